#pragma once

// Reading NetCDF files back in tests, through the NetCDF C library.

#include <netcdf.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace hydro::test {

class NcReader {
public:
    explicit NcReader(const std::filesystem::path& path) {
        ok_ = nc_open(path.c_str(), NC_NOWRITE, &id_) == NC_NOERR;
    }
    ~NcReader() {
        if (ok_) {
            static_cast<void>(nc_close(id_));
        }
    }
    NcReader(const NcReader&) = delete;
    NcReader& operator=(const NcReader&) = delete;
    NcReader(NcReader&&) = delete;
    NcReader& operator=(NcReader&&) = delete;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] int id() const { return id_; }

    [[nodiscard]] int var(const std::string& name) const {
        int v = -2;
        if (nc_inq_varid(id_, name.c_str(), &v) != NC_NOERR) {
            return -2;
        }
        return v;
    }
    [[nodiscard]] std::size_t dim(const std::string& name) const {
        int d = -1;
        std::size_t n = 0;
        if (nc_inq_dimid(id_, name.c_str(), &d) != NC_NOERR
            || nc_inq_dimlen(id_, d, &n) != NC_NOERR) {
            return 0;
        }
        return n;
    }
    /// The whole variable; empty when it is missing.
    [[nodiscard]] std::vector<float> floats(const std::string& name) const {
        return read<float>(name,
                           [](int f, int v, float* out) { return nc_get_var_float(f, v, out); });
    }
    [[nodiscard]] std::vector<double> doubles(const std::string& name) const {
        return read<double>(name,
                            [](int f, int v, double* out) { return nc_get_var_double(f, v, out); });
    }
    /// A text attribute ("" for the file's own with `variable` empty); "(missing)" when absent.
    [[nodiscard]] std::string text(const std::string& variable, const std::string& name) const {
        const int v = variable.empty() ? NC_GLOBAL : var(variable);
        std::size_t len = 0;
        if (nc_inq_attlen(id_, v, name.c_str(), &len) != NC_NOERR) {
            return "(missing)";
        }
        std::string s(len, '\0');
        if (nc_get_att_text(id_, v, name.c_str(), s.data()) != NC_NOERR) {
            return "(not text)";
        }
        return s;
    }
    [[nodiscard]] double number(const std::string& variable, const std::string& name) const {
        const int v = variable.empty() ? NC_GLOBAL : var(variable);
        double d = -1.0e300;
        static_cast<void>(nc_get_att_double(id_, v, name.c_str(), &d));
        return d;
    }

private:
    template <class T, class Get>
    std::vector<T> read(const std::string& name, Get get) const {
        const int v = var(name);
        if (v < 0) {
            return {};
        }
        int ndims = 0;
        nc_inq_varndims(id_, v, &ndims);
        std::vector<int> dims(static_cast<std::size_t>(ndims));
        nc_inq_vardimid(id_, v, dims.data());
        std::size_t n = 1;
        for (const int d : dims) {
            std::size_t len = 0;
            nc_inq_dimlen(id_, d, &len);
            n *= len;
        }
        std::vector<T> out(n);
        if (get(id_, v, out.data()) != NC_NOERR) {
            return {};
        }
        return out;
    }

    int id_ = -1;
    bool ok_ = false;
};

}  // namespace hydro::test
