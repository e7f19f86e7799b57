#include "runoff_sim/rank_transfer.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace hydro::runoff {

namespace {

class Packer {
public:
    template <class T>
    void put(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* from = reinterpret_cast<const std::byte*>(&value);
        bytes_.insert(bytes_.end(), from, from + sizeof(T));
    }
    template <class T>
    void putVector(const std::vector<T>& values) {
        static_assert(std::is_trivially_copyable_v<T>);
        put(static_cast<std::uint64_t>(values.size()));
        const auto* from = reinterpret_cast<const std::byte*>(values.data());
        bytes_.insert(bytes_.end(), from, from + values.size() * sizeof(T));
    }
    [[nodiscard]] std::vector<std::byte> take() { return std::move(bytes_); }

private:
    std::vector<std::byte> bytes_;
};

class Unpacker {
public:
    explicit Unpacker(std::span<const std::byte> bytes) : bytes_(bytes) {}

    template <class T>
    [[nodiscard]] T get() {
        T value{};
        std::memcpy(&value, take(sizeof(T)), sizeof(T));
        return value;
    }
    template <class T>
    [[nodiscard]] std::vector<T> getVector() {
        const auto count = get<std::uint64_t>();
        if (count > (bytes_.size() - at_) / sizeof(T)) {
            throw std::invalid_argument("a cut image");
        }
        std::vector<T> values(static_cast<std::size_t>(count));
        if (!values.empty()) {  // an empty vector may have no storage to copy into
            std::memcpy(values.data(), take(values.size() * sizeof(T)), values.size() * sizeof(T));
        }
        return values;
    }
    void expectEnd() const {
        if (at_ != bytes_.size()) {
            throw std::invalid_argument("an image with bytes left over");
        }
    }

private:
    const std::byte* take(std::size_t n) {
        if (n > bytes_.size() - at_) {
            throw std::invalid_argument("a cut image");
        }
        const std::byte* from = bytes_.data() + at_;
        at_ += n;
        return from;
    }

    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
};

}  // namespace

std::vector<std::byte> packRankWork(const RankWork& work) {
    Packer out;
    out.put(static_cast<std::uint64_t>(work.plans.size()));
    for (std::size_t k = 0; k < work.plans.size(); ++k) {
        const RoutingPlan& p = work.plans[k];
        out.put(static_cast<std::int32_t>(p.kind));
        out.put(p.scheme);
        out.put(p.box);
        out.put(p.riverCount);
        out.put(p.subStepsPerHour);
        out.put(p.days);
        out.put(p.importCount);
        out.put(p.exportCount);
        out.putVector(p.cells);
        out.putVector(p.sources);
        out.putVector(p.initialNodes);
        out.putVector(p.initialLateral);
        out.putVector(p.frameTemplate);
        out.putVector(work.importCut[k]);
        out.putVector(work.exportCut[k]);
    }
    out.putVector(work.framePositions);
    return out.take();
}

RankWork unpackRankWork(std::span<const std::byte> bytes) {
    Unpacker in(bytes);
    RankWork work;
    const auto levels = in.get<std::uint64_t>();
    if (levels == 0 || levels > bytes.size()) {
        throw std::invalid_argument("a rank's work without levels");
    }
    work.plans.resize(static_cast<std::size_t>(levels));
    work.importCut.resize(work.plans.size());
    work.exportCut.resize(work.plans.size());
    for (std::size_t k = 0; k < work.plans.size(); ++k) {
        RoutingPlan& p = work.plans[k];
        const auto kind = in.get<std::int32_t>();
        if (kind != static_cast<std::int32_t>(Scheme::kLinear)
            && kind != static_cast<std::int32_t>(Scheme::kConservative)) {
            throw std::invalid_argument("a rank's work of an unknown scheme");
        }
        p.kind = static_cast<Scheme>(kind);
        p.scheme = in.get<WaveScheme>();
        p.box = in.get<BoxScheme>();
        p.riverCount = in.get<std::int32_t>();
        if (p.riverCount < 0) {
            throw std::invalid_argument("a rank's work with a negative river count");
        }
        p.subStepsPerHour = in.get<std::int32_t>();
        p.days = in.get<std::int32_t>();
        p.importCount = in.get<std::int32_t>();
        p.exportCount = in.get<std::int32_t>();
        p.cells = in.getVector<RoutedCell>();
        p.sources = in.getVector<std::int32_t>();
        p.initialNodes = in.getVector<double>();
        p.initialLateral = in.getVector<double>();
        p.frameTemplate = in.getVector<float>();
        work.importCut[k] = in.getVector<std::int32_t>();
        work.exportCut[k] = in.getVector<std::int32_t>();
    }
    work.framePositions = in.getVector<std::int64_t>();
    in.expectEnd();
    return work;
}

std::vector<std::byte> packRain(const RainGrid& rain) {
    Packer out;
    out.put(rain.rows);
    out.put(rain.cols);
    out.put(rain.days);
    out.putVector(rain.points);
    out.putVector(rain.rain);
    return out.take();
}

RainGrid unpackRain(std::span<const std::byte> bytes) {
    Unpacker in(bytes);
    RainGrid rain;
    rain.rows = in.get<std::int32_t>();
    rain.cols = in.get<std::int32_t>();
    rain.days = in.get<std::int32_t>();
    rain.points = in.getVector<RainCell>();
    rain.rain = in.getVector<float>();
    in.expectEnd();
    return rain;
}

std::vector<std::byte> packRoutes(std::span<const CutRoute> routes) {
    Packer out;
    out.putVector(std::vector<CutRoute>(routes.begin(), routes.end()));
    return out.take();
}

std::vector<CutRoute> unpackRoutes(std::span<const std::byte> bytes) {
    Unpacker in(bytes);
    auto routes = in.getVector<CutRoute>();
    in.expectEnd();
    return routes;
}

}  // namespace hydro::runoff
