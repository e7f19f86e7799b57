#include "make_case/params_command.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <system_error>

#include "case/case.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/raw_grid_io.h"
#include "make_case/case_input.h"
#include "make_case/case_writer.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;
constexpr int kFailure = 1;

/// The options of `params` and the number (from 1) of the value each sets.
struct ParamOption {
    const char* name;
    int number;
};
constexpr std::array<ParamOption, 7> kOptions{{
    {"--time-step", 12},
    {"--space-steps", 13},
    {"--weight", 14},
    {"--manning-slope", 15},
    {"--manning-channel", 16},
    {"--channel-cells", 17},
    {"--initial-runoff", 18},
}};

bool writeText(const fs::path& path, const std::string& text) {
    const FileHandle file(std::fopen(path.c_str(), "wb"));
    return file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size()
           && std::fflush(file.get()) == 0;
}

}  // namespace

std::optional<std::string> replaceParameterValues(const std::string& text,
                                                  const std::map<int, std::string>& byNumber) {
    // Each value in its own place through the case writer's replacement, which keeps the rest
    // of the text byte for byte.
    std::optional<std::string> result = text;
    for (const auto& [number, value] : byNumber) {
        result = replaceValues(*result, static_cast<std::size_t>(number - 1),
                               std::span<const std::string>(&value, 1));
        if (!result) {
            return std::nullopt;
        }
    }
    return result;
}

std::optional<EventParameters> replaceParameterFile(const fs::path& caseDir,
                                                    const std::string& text,
                                                    const std::string& context, std::ostream& out) {
    const fs::path target = CasePaths{caseDir}.parameters();
    fs::path temp = target;
    temp += ".part-" + std::to_string(::getpid());
    std::error_code ec;
    if (!writeText(temp, text)) {
        fs::remove(temp, ec);
        sayLine(out, target.string(), " cannot be written.");
        return std::nullopt;
    }
    auto params = readEventParameters(temp);
    std::optional<Error> problem;
    if (!params) {
        problem = params.error();
    } else if (auto tooLarge = gridSizeProblem(*params)) {
        problem = tooLarge;
    } else if (auto offGlobe = latitudeProblem(*params)) {
        problem = offGlobe;
    }
    if (problem) {
        fs::remove(temp, ec);
        sayLine(out, context, problem->message, " Nothing was changed.");
        return std::nullopt;
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        sayLine(out, target.string(), " cannot be put in place (", ec.message(), ").");
        return std::nullopt;
    }
    return *params;
}

int runParams(const std::vector<std::string>& args, std::ostream& out) {
    std::map<int, std::string> values;
    std::map<int, std::string> optionOf;
    std::vector<std::string> positional;
    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (!a.starts_with("--")) {
            positional.push_back(a);
            continue;
        }
        const ParamOption* option = nullptr;
        for (const ParamOption& o : kOptions) {
            if (a == o.name) {
                option = &o;
            }
        }
        if (option == nullptr) {
            sayLine(out, "Unknown option ", a, " of make_case params; see make_case --help.");
            return kFailure;
        }
        if (k + 1 >= args.size()) {
            sayLine(out, a, " needs a value; see make_case --help.");
            return kFailure;
        }
        const std::string& v = args[++k];
        // One value of the file: anything with white space would shift the values after it.
        bool oneToken = !v.empty() && v.size() <= kMaxTokenLength;
        for (const char c : v) {
            oneToken = oneToken && !isTokenSpace(c);
        }
        if (!oneToken) {
            sayLine(out, a, " takes one number, not \"", quoteToken(v), "\".");
            return kFailure;
        }
        values[option->number] = v;
        optionOf[option->number] = a;
    }
    if (positional.size() != 1) {
        sayLine(out,
                "make_case params takes one case folder: make_case params CASE --time-step S "
                "...; see make_case --help.");
        return kFailure;
    }
    const fs::path caseDir = positional[0];
    const fs::path path = CasePaths{caseDir}.parameters();
    if (values.empty()) {
        sayLine(out,
                "Nothing to set: name at least one of --time-step, --space-steps, --weight, "
                "--manning-slope, --manning-channel, --channel-cells, --initial-runoff.");
        return kFailure;
    }
    const auto text = readCaseParameterText(caseDir);
    const auto replaced = text ? replaceParameterValues(*text, values) : std::nullopt;
    if (!replaced) {
        sayLine(out, path.string(),
                text ? " holds fewer than 18 values; run make_case terrain to start a new one."
                     : " cannot be read; run make_case terrain first.");
        return kFailure;
    }
    // The reader names the value by number; the line starts with the options given, so the
    // user sees which of them broke a rule.
    std::string given;
    for (const auto& [number, name] : optionOf) {
        given += (given.empty() ? "" : ", ") + name + " " + values[number];
    }
    const auto after =
        replaceParameterFile(caseDir, *replaced, "make_case params (" + given + "): ", out);
    if (!after) {
        return kFailure;
    }
    if (!stepsFillTheHour(*after)) {
        sayLine(out, "Warning: a time step of ", after->timeStep,
                " s does not divide 3600 s, so every simulated hour is ", after->subStepsPerHour,
                " x ", after->timeStep, " = ", after->subStepsPerHour * after->timeStep,
                " s long.");
    }
    sayLine(out, "Set in ", path.string(), ": ", given, ".");
    return 0;
}

}  // namespace hydro::make_case
