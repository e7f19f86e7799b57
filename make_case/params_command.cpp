#include "make_case/params_command.h"

#include <array>
#include <optional>

#include "case/case.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
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

/// What `make_case params` was asked to set.
struct ParamsRequest {
    std::filesystem::path caseDir;
    std::map<int, std::string> values;    ///< by value number, from 1
    std::map<int, std::string> optionOf;  ///< the option that set each value
};

/// Parses the arguments after `params`.
Result<ParamsRequest> parseParams(const std::vector<std::string>& args) {
    ParamsRequest request;
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
            std::vector<std::string_view> known;
            known.reserve(kOptions.size());
            for (const ParamOption& o : kOptions) {
                known.emplace_back(o.name);
            }
            return Error{unknownOptionLine(a, known, "make_case params", "make_case --help")};
        }
        if (k + 1 >= args.size()) {
            return Error{a + " needs a value; see make_case --help."};
        }
        const std::string& v = args[++k];
        // One value of the file: anything with white space would shift the values after it.
        bool oneToken = !v.empty() && v.size() <= kMaxTokenLength;
        for (const char c : v) {
            oneToken = oneToken && !isTokenSpace(c);
        }
        if (!oneToken) {
            return Error{a + " takes one number, not \"" + quoteToken(v) + "\"."};
        }
        request.values[option->number] = v;
        request.optionOf[option->number] = a;
    }
    if (positional.size() != 1) {
        return Error{
            "make_case params takes one case folder: make_case params CASE --time-step S "
            "...; see make_case --help."};
    }
    request.caseDir = positional[0];
    if (request.values.empty()) {
        return Error{
            "Nothing to set: name at least one of --time-step, --space-steps, --weight, "
            "--manning-slope, --manning-channel, --channel-cells, --initial-runoff."};
    }
    return request;
}

/// Sets the values in the case's param-event.dat; returns the file's values after.
Result<EventParameters> setParameters(const ParamsRequest& request, const std::string& given) {
    const fs::path path = CasePaths{request.caseDir}.parameters();
    const auto text = readCaseParameterText(request.caseDir);
    if (!text) {
        return Error{path.string() + " cannot be read; run make_case terrain first."};
    }
    const auto replaced = replaceParameterValues(*text, request.values);
    if (!replaced) {
        return Error{path.string()
                     + " holds fewer than 18 values; run make_case terrain to start a new one."};
    }
    // The reader names the value by number; the line starts with the options given, so the
    // user sees which of them broke a rule.
    FileTransaction files;
    auto after =
        stageParameterFile(files, request.caseDir, *replaced, "make_case params (" + given + "): ");
    if (!after) {
        return after;
    }
    if (auto committed = files.commit(); !committed) {
        return committed.error();
    }
    return after;
}

}  // namespace

Result<std::string> replaceParameterValues(const std::string& text,
                                           const std::map<int, std::string>& byNumber) {
    // Each value in its own place through the case writer's replacement, which keeps the rest
    // of the text byte for byte.
    std::string result = text;
    for (const auto& [number, value] : byNumber) {
        auto replaced = replaceValues(result, static_cast<std::size_t>(number - 1),
                                      std::span<const std::string>(&value, 1));
        if (!replaced) {
            return replaced;
        }
        result = std::move(*replaced);
    }
    return result;
}

Result<EventParameters> stageParameterFile(FileTransaction& files, const fs::path& caseDir,
                                           const std::string& text, const std::string& context) {
    const fs::path target = CasePaths{caseDir}.parameters();
    if (auto written = files.write(target, text); !written) {
        return written.error();
    }
    auto params = readEventParameters(temporaryPathOf(target));
    Status valid = params ? checkGridSize(*params) : Status(params.error());
    valid = valid ? checkLatitudes(*params) : valid;
    if (!valid) {
        return Error{context + valid.error().message + " Nothing was changed."};
    }
    return params;
}

int runParams(const std::vector<std::string>& args, std::ostream& out) {
    const auto request = parseParams(args);
    if (!request) {
        sayLine(out, request.error().message);
        return kFailure;
    }
    // The options as given, for the line after success (the file's reader has then accepted
    // each value as a number), and quoted for the error line of a value it refused.
    std::string given;
    std::string quoted;
    for (const auto& [number, name] : request->optionOf) {
        const std::string& value = request->values.at(number);
        given.append(given.empty() ? "" : ", ").append(name).append(" ").append(value);
        quoted.append(quoted.empty() ? "" : ", ")
            .append(name)
            .append(" ")
            .append(quoteToken(value));
    }
    const auto after = setParameters(*request, quoted);
    if (!after) {
        sayLine(out, after.error().message);
        return kFailure;
    }
    if (!stepsFillTheHour(*after)) {
        sayLine(out, "Warning: a time step of ", after->timeStep,
                " s does not divide 3600 s, so every simulated hour is ", after->subStepsPerHour,
                " x ", after->timeStep, " = ", after->subStepsPerHour * after->timeStep,
                " s long.");
    }
    sayLine(out, "Set in ", CasePaths{request->caseDir}.parameters().string(), ": ", given, ".");
    return 0;
}

}  // namespace hydro::make_case
