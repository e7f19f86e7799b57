#include "common/raw_grid_io.h"

#include <sys/stat.h>

#include <bit>
#include <cstring>
#include <optional>

namespace hydro {

void FileCloser::operator()(std::FILE* file) const noexcept {
    if (file != nullptr) {
        static_cast<void>(std::fclose(file));
    }
}

void littleEndianInPlace(std::span<std::uint32_t> words) {
    if constexpr (std::endian::native == std::endian::big) {
        for (auto& w : words) {
            w = ((w & 0xFFU) << 24U) | ((w & 0xFF00U) << 8U) | ((w >> 8U) & 0xFF00U) | (w >> 24U);
        }
    } else {
        static_cast<void>(words);
    }
}

namespace {

template <class T>
std::span<std::uint32_t> asWords(std::span<T> values, std::size_t count) {
    static_assert(sizeof(T) == sizeof(std::uint32_t));
    return {reinterpret_cast<std::uint32_t*>(values.data()), count};
}

}  // namespace

FileHandle openForReading(const std::filesystem::path& path) {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    struct stat info {};
    if (file && (::fstat(::fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode))) {
        file.reset();
    }
    return file;
}

bool RawValueReader::open(const std::filesystem::path& path) {
    file_ = openForReading(path);
    return file_ != nullptr;
}

std::size_t RawValueReader::readRaw(void* out, std::size_t count) {
    if (!file_ || count == 0) {
        return 0;
    }
    return std::fread(out, 4, count, file_.get());
}

std::size_t RawValueReader::read(std::span<float> out) {
    const std::size_t n = readRaw(out.data(), out.size());
    littleEndianInPlace(asWords(out, n));
    return n;
}

std::size_t RawValueReader::read(std::span<std::int32_t> out) {
    const std::size_t n = readRaw(out.data(), out.size());
    littleEndianInPlace(asWords(out, n));
    return n;
}

bool RawValueReader::seekValue(std::uint64_t valueIndex) {
    if (!file_ || valueIndex > static_cast<std::uint64_t>(INT64_MAX) / 4) {
        return false;
    }
    return fseeko(file_.get(), static_cast<off_t>(valueIndex * 4), SEEK_SET) == 0;
}

std::optional<std::uint64_t> RawValueReader::valueCount() const {
    if (!file_) {
        return std::nullopt;
    }
    const off_t here = ftello(file_.get());
    if (here < 0 || fseeko(file_.get(), 0, SEEK_END) != 0) {
        return std::nullopt;
    }
    const off_t end = ftello(file_.get());
    if (fseeko(file_.get(), here, SEEK_SET) != 0 || end < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end) / 4;
}

bool RawValueWriter::open(const std::filesystem::path& path, bool append) {
    failed_ = false;
    file_.reset(std::fopen(path.c_str(), append ? "ab" : "wb"));
    if (file_) {
        // Large frames go out in few system calls.
        static_cast<void>(std::setvbuf(file_.get(), nullptr, _IOFBF, std::size_t{1} << 20U));
    }
    return file_ != nullptr;
}

bool RawValueWriter::write(std::span<const float> values) {
    if (!file_ || failed_) {
        failed_ = true;
        return false;
    }
    if constexpr (std::endian::native == std::endian::big) {
        for (float v : values) {
            auto w = std::bit_cast<std::uint32_t>(v);
            littleEndianInPlace({&w, 1});
            if (std::fwrite(&w, 4, 1, file_.get()) != 1) {
                failed_ = true;
                return false;
            }
        }
        return true;
    } else {
        if (std::fwrite(values.data(), 4, values.size(), file_.get()) != values.size()) {
            failed_ = true;
        }
        return !failed_;
    }
}

bool RawValueWriter::flush() {
    if (!file_ || failed_ || std::fflush(file_.get()) != 0) {
        failed_ = true;
    }
    return !failed_;
}

bool RawValueWriter::close() {
    if (!file_) {
        return false;
    }
    const bool flushed = flush();
    const bool closed = std::fclose(file_.release()) == 0;
    failed_ = !(flushed && closed);
    return !failed_;
}

}  // namespace hydro
