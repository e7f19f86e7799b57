#include "case/time_parse.h"

#include <array>
#include <cmath>

namespace hydro {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr const char* kUnknownUnits =
    "are not known (seconds, minutes, hours or days since a date)";

/// A cursor over the text being parsed.
struct Cursor {
    std::string_view text;
    std::size_t at = 0;

    [[nodiscard]] bool done() const { return at == text.size(); }
    [[nodiscard]] char peek() const { return done() ? '\0' : text[at]; }
    bool take(char c) {
        if (peek() != c) {
            return false;
        }
        ++at;
        return true;
    }
    std::size_t blanks() {
        const std::size_t from = at;
        while (peek() == ' ' || peek() == '\t') {
            ++at;
        }
        return at - from;
    }
    /// A run of `least` to `most` digits as a number.
    std::optional<std::int64_t> number(std::size_t least, std::size_t most) {
        std::int64_t value = 0;
        std::size_t count = 0;
        while (count < most && peek() >= '0' && peek() <= '9') {
            value = value * 10 + (peek() - '0');
            ++at;
            ++count;
        }
        if (count < least) {
            return std::nullopt;
        }
        return value;
    }
    [[nodiscard]] bool digitNext() const { return peek() >= '0' && peek() <= '9'; }
};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (lowerAscii(a[k]) != lowerAscii(b[k])) {
            return false;
        }
    }
    return true;
}

Error invalid(const std::string& what) {
    return Error{what};
}

/// The zone after a date-time: seconds east of UTC. `in` is past any blanks.
Result<std::int64_t> zoneOffset(Cursor& in) {
    const std::string_view rest = in.text.substr(in.at);
    if (rest.empty() || sameIgnoringCase(rest, "z") || sameIgnoringCase(rest, "utc")) {
        in.at = in.text.size();
        return std::int64_t{0};
    }
    const char sign = in.peek();
    if (sign != '+' && sign != '-') {
        return invalid(std::string(kNotIsoTime));
    }
    ++in.at;
    const auto hours = in.number(1, 2);
    std::int64_t minutes = 0;
    if (hours && in.take(':')) {
        const auto m = in.number(2, 2);
        if (!m) {
            return invalid("has a UTC offset that is not +hh:mm, +hhmm or +hh");
        }
        minutes = *m;
    } else if (hours && in.digitNext()) {
        const auto m = in.number(2, 2);
        minutes = m.value_or(60);
    }
    if (!hours || !in.done() || *hours > 23 || minutes > 59) {
        return invalid("has a UTC offset that is not +hh:mm, +hhmm or +hh");
    }
    const std::int64_t east = *hours * 3600 + minutes * 60;
    return sign == '+' ? east : -east;
}

/// The fraction of a second after the point, rounded to 0 or 1 second (half up).
std::optional<std::int64_t> roundedFraction(Cursor& in) {
    if (!in.digitNext()) {
        return std::nullopt;
    }
    const char first = in.peek();
    while (in.digitNext()) {
        ++in.at;
    }
    return first >= '5' ? 1 : 0;
}

/// Date and time fields, read without checking their ranges.
struct Fields {
    std::int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::int64_t carry = 0;  ///< the rounded fraction of a second
    bool timeGiven = false;
};

/// "hh:mm[:ss[.fff]]" into `f`; false when it is not there.
bool readClock(Cursor& in, Fields& f) {
    const auto h = in.number(1, 2);
    if (!h || !in.take(':')) {
        return false;
    }
    const auto mi = in.number(2, 2);
    if (!mi) {
        return false;
    }
    f.hour = *h;
    f.minute = *mi;
    f.timeGiven = true;
    if (in.take(':')) {
        const auto s = in.number(2, 2);
        if (!s) {
            return false;
        }
        f.second = *s;
        if (in.take('.') || in.take(',')) {
            const auto c = roundedFraction(in);
            if (!c) {
                return false;
            }
            f.carry = *c;
        }
    }
    return true;
}

/// The date, an optional time and the zone; the error says what is wrong.
Result<std::int64_t> readInstant(Cursor& in, DateAlone dateAlone) {
    Fields f;
    const auto y = in.number(1, 6);
    if (!y || !in.take('-')) {
        return invalid(std::string(kNotIsoTime));
    }
    const auto mo = in.number(1, 2);
    if (!mo || !in.take('-')) {
        return invalid(std::string(kNotIsoTime));
    }
    const auto d = in.number(1, 2);
    if (!d || in.digitNext()) {
        return invalid(std::string(kNotIsoTime));
    }
    f.year = *y;
    f.month = *mo;
    f.day = *d;
    const std::size_t afterDate = in.at;
    const bool t = in.take('T') || in.take('t');
    const std::size_t blanks = t ? 0 : in.blanks();
    if ((t || blanks > 0) && in.digitNext() && !readClock(in, f)) {
        return invalid(std::string(kNotIsoTime));
    }
    if (t && !f.timeGiven) {
        return invalid(std::string(kNotIsoTime));
    }
    if (!f.timeGiven) {
        in.at = afterDate;
        if (dateAlone == DateAlone::kRefused) {
            return invalid("gives a date without a time of day");
        }
    }
    in.blanks();
    const auto offset = zoneOffset(in);
    if (!offset) {
        return offset.error();
    }
    if (f.year < 1 || f.year > 9999) {
        return invalid(kOutsideYears);
    }
    if (f.month < 1 || f.month > 12 || f.day < 1
        || f.day > daysInMonth(f.year, static_cast<std::int32_t>(f.month))) {
        return invalid("is no date of the calendar");
    }
    const auto local = civilInstant(f.year, f.month, f.day, f.hour, f.minute, f.second);
    if (!local) {
        return invalid("is no time of day (00:00 to 23:59:59)");
    }
    const auto utc = instantPlus(*local, f.carry - *offset);
    if (!utc) {
        return invalid(kOutsideYears);
    }
    return *utc;
}

}  // namespace

std::int32_t daysInMonth(std::int64_t year, std::int32_t month) {
    static constexpr std::array<std::int32_t, 12> kDays{31, 28, 31, 30, 31, 30,
                                                        31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

std::int64_t daysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::optional<std::int64_t> civilInstant(std::int64_t year, std::int64_t month, std::int64_t day,
                                         std::int64_t hour, std::int64_t minute,
                                         std::int64_t second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1
        || day > daysInMonth(year, static_cast<std::int32_t>(month)) || hour < 0 || hour > 23
        || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    return daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::optional<std::int64_t> instantPlus(std::int64_t instant, std::int64_t seconds) {
    if (instant < kFirstInstant || instant > kLastInstant) {
        return std::nullopt;
    }
    // Both bounds of `seconds` are within +-2^39, so neither difference overflows.
    if (seconds < kFirstInstant - instant || seconds > kLastInstant - instant) {
        return std::nullopt;
    }
    return instant + seconds;
}

Result<std::int64_t> parseIsoInstant(std::string_view text, DateAlone dateAlone) {
    Cursor in{trimmed(text)};
    return readInstant(in, dateAlone);
}

Result<CfTimeUnits> parseCfTimeUnits(std::string_view units) {
    const std::string_view u = trimmed(units);
    std::size_t unitEnd = 0;
    while (unitEnd < u.size() && u[unitEnd] != ' ' && u[unitEnd] != '\t') {
        ++unitEnd;
    }
    const std::string_view unit = u.substr(0, unitEnd);
    const std::string_view rest = trimmed(u.substr(unitEnd));
    constexpr std::string_view kSince = "since";
    if (rest.size() <= kSince.size() || !sameIgnoringCase(rest.substr(0, kSince.size()), kSince)
        || (rest[kSince.size()] != ' ' && rest[kSince.size()] != '\t')) {
        return invalid(kUnknownUnits);
    }
    struct Spelling {
        std::string_view name;
        std::int64_t seconds;
    };
    static constexpr std::array<Spelling, 17> kUnits{{{"seconds", 1},
                                                      {"second", 1},
                                                      {"secs", 1},
                                                      {"sec", 1},
                                                      {"s", 1},
                                                      {"minutes", 60},
                                                      {"minute", 60},
                                                      {"mins", 60},
                                                      {"min", 60},
                                                      {"hours", 3600},
                                                      {"hour", 3600},
                                                      {"hrs", 3600},
                                                      {"hr", 3600},
                                                      {"h", 3600},
                                                      {"days", kSecondsPerDay},
                                                      {"day", kSecondsPerDay},
                                                      {"d", kSecondsPerDay}}};
    CfTimeUnits out;
    out.secondsPerUnit = 0;
    for (const Spelling& s : kUnits) {
        if (sameIgnoringCase(unit, s.name)) {
            out.secondsPerUnit = s.seconds;
        }
    }
    if (out.secondsPerUnit == 0) {
        return invalid(kUnknownUnits);
    }
    Cursor in{trimmed(rest.substr(kSince.size()))};
    const auto reference = readInstant(in, DateAlone::kAccepted);
    if (!reference) {
        return Error{"give a reference date that " + reference.error().message};
    }
    out.reference = *reference;
    return out;
}

bool isGregorianCalendar(std::string_view calendar) {
    return calendar.empty() || sameIgnoringCase(calendar, "standard")
           || sameIgnoringCase(calendar, "gregorian")
           || sameIgnoringCase(calendar, "proleptic_gregorian");
}

Result<std::int64_t> cfInstant(const CfTimeUnits& units, double value) {
    if (!std::isfinite(value)) {
        return invalid("is not a number");
    }
    // The same rounding as ever: the product once, then to the nearest second.
    const double s = std::round(value * static_cast<double>(units.secondsPerUnit));
    // Both bounds are integers below 2^53, exact as doubles, so the cast below is in range.
    const auto least = static_cast<double>(kFirstInstant - units.reference);
    const auto most = static_cast<double>(kLastInstant - units.reference);
    if (!(s >= least && s <= most)) {
        return invalid(kOutsideYears);
    }
    return units.reference + static_cast<std::int64_t>(s);
}

}  // namespace hydro
