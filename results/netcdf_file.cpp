#include "results/netcdf_file.h"

#include <netcdf.h>

#include "common/memory_headroom.h"

namespace hydro::results {

namespace {

nc_type ncType(NetcdfFile::Type t) {
    switch (t) {
        case NetcdfFile::Type::kChar:
            return NC_CHAR;
        case NetcdfFile::Type::kInt:
            return NC_INT;
        case NetcdfFile::Type::kFloat:
            return NC_FLOAT;
        case NetcdfFile::Type::kDouble:
            break;
    }
    return NC_DOUBLE;
}

}  // namespace

NetcdfFile::~NetcdfFile() {
    if (id_ >= 0) {
        static_cast<void>(nc_close(id_));
    }
}

bool NetcdfFile::check(int status, const std::string& what) {
    if (status != NC_NOERR && error_.empty()) {
        error_ = what + ": " + nc_strerror(status);
    }
    return status == NC_NOERR;
}

bool NetcdfFile::create(const std::filesystem::path& path, bool classicModel) {
    int id = -1;
    requireHeadroom();
    if (check(nc_create(path.c_str(),
                        NC_NETCDF4 | (classicModel ? NC_CLASSIC_MODEL : 0) | NC_NOCLOBBER, &id),
              "creating the file")) {
        id_ = id;
        // Every variable is written whole; prefilling it first would write it twice.
        int old = 0;
        check(nc_set_fill(id_, NC_NOFILL, &old), "setting no prefill");
    }
    return !failed();
}

bool NetcdfFile::createZarr(const std::filesystem::path& folder, bool classicModel) {
    int id = -1;
    requireHeadroom();
    const std::string url =
        "file://" + std::filesystem::absolute(folder).string() + "#mode=zarr,file";
    if (check(nc_create(url.c_str(),
                        NC_NETCDF4 | (classicModel ? NC_CLASSIC_MODEL : 0) | NC_NOCLOBBER, &id),
              "creating the store")) {
        id_ = id;
        int old = 0;
        check(nc_set_fill(id_, NC_NOFILL, &old), "setting no prefill");
    }
    return !failed();
}

int NetcdfFile::defineDimension(const std::string& name, std::size_t length) {
    int dim = -1;
    if (!failed()) {
        check(nc_def_dim(id_, name.c_str(), length, &dim), "dimension " + name);
    }
    return dim;
}

int NetcdfFile::defineVariable(const std::string& name, Type type,
                               std::initializer_list<int> dimensions) {
    int var = -1;
    if (!failed()) {
        const std::vector<int> dims(dimensions);
        check(nc_def_var(id_, name.c_str(), ncType(type), static_cast<int>(dims.size()),
                         dims.data(), &var),
              "variable " + name);
    }
    return var;
}

void NetcdfFile::compress(int variable, std::initializer_list<std::size_t> chunks, int level) {
    if (failed()) {
        return;
    }
    const std::vector<std::size_t> lengths(chunks);
    check(nc_def_var_chunking(id_, variable, NC_CHUNKED, lengths.data()), "chunking");
    if (level > 0) {
        // Byte shuffling groups the exponent bytes of neighbouring floats: smaller files, and
        // deflate runs faster on the more regular bytes.
        check(nc_def_var_deflate(id_, variable, 1, 1, level), "deflate");
    }
}

void NetcdfFile::quantize(int variable, int digits) {
    if (!failed()) {
        check(nc_def_var_quantize(id_, variable, NC_QUANTIZE_GRANULARBR, digits), "quantizing");
    }
}

void NetcdfFile::text(int variable, const std::string& name, const std::string& value) {
    if (!failed()) {
        check(nc_put_att_text(id_, variable, name.c_str(), value.size(), value.data()),
              "attribute " + name);
    }
}

void NetcdfFile::number(int variable, const std::string& name, double value) {
    if (!failed()) {
        check(nc_put_att_double(id_, variable, name.c_str(), NC_DOUBLE, 1, &value),
              "attribute " + name);
    }
}

void NetcdfFile::number(int variable, const std::string& name, float value) {
    if (!failed()) {
        check(nc_put_att_float(id_, variable, name.c_str(), NC_FLOAT, 1, &value),
              "attribute " + name);
    }
}

void NetcdfFile::number(int variable, const std::string& name, std::int32_t value) {
    if (!failed()) {
        check(nc_put_att_int(id_, variable, name.c_str(), NC_INT, 1, &value), "attribute " + name);
    }
}

void NetcdfFile::numbers(int variable, const std::string& name, std::span<const double> values) {
    if (!failed()) {
        check(
            nc_put_att_double(id_, variable, name.c_str(), NC_DOUBLE, values.size(), values.data()),
            "attribute " + name);
    }
}

void NetcdfFile::endDefinitions() {
    if (!failed()) {
        check(nc_enddef(id_), "leaving define mode");
    }
}

void NetcdfFile::put(int variable, std::initializer_list<std::size_t> start,
                     std::initializer_list<std::size_t> count, const float* values) {
    if (!failed()) {
        check(nc_put_vara_float(id_, variable, std::data(start), std::data(count), values),
              "writing values");
    }
}

void NetcdfFile::put(int variable, std::initializer_list<std::size_t> start,
                     std::initializer_list<std::size_t> count, const double* values) {
    if (!failed()) {
        check(nc_put_vara_double(id_, variable, std::data(start), std::data(count), values),
              "writing values");
    }
}

void NetcdfFile::put(int variable, std::initializer_list<std::size_t> start,
                     std::initializer_list<std::size_t> count, const std::int32_t* values) {
    if (!failed()) {
        check(nc_put_vara_int(id_, variable, std::data(start), std::data(count), values),
              "writing values");
    }
}

void NetcdfFile::put(int variable, std::initializer_list<std::size_t> start,
                     std::initializer_list<std::size_t> count, const char* values) {
    if (!failed()) {
        check(nc_put_vara_text(id_, variable, std::data(start), std::data(count), values),
              "writing values");
    }
}

void NetcdfFile::put(int variable, std::int32_t value) {
    if (!failed()) {
        check(nc_put_var_int(id_, variable, &value), "writing values");
    }
}

void NetcdfFile::put(int variable, std::span<const std::size_t> start,
                     std::span<const std::size_t> count, const float* values) {
    if (!failed()) {
        check(nc_put_vara_float(id_, variable, start.data(), count.data(), values),
              "writing values");
    }
}

bool NetcdfFile::close() {
    if (id_ >= 0) {
        check(nc_close(id_), "closing the file");
        id_ = -1;
    }
    return !failed();
}

}  // namespace hydro::results
