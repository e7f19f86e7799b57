#include "runoff_sim/options.h"

#include <charconv>
#include <cstdint>

#include "case/channel_width.h"
#include "common/number_stream.h"

namespace hydro::runoff {

const char* const kUsage =
    R"(Usage: runoff_sim [--scheme linear|conservative] [--channel-width COEF,EXP]
                  [--warm-start FILE | --resume DIR]
                  [--write-state FILE] [--state-every HOURS DIR [--keep-states K]]

Routes the rain of input/rain.dat through every cell of the rivers listed in the case folder
that is the working directory (param-event.dat, topoData/, input/), and writes the daily,
daily-maximum and hourly discharge grids to output/, with output/water_balance.csv: per listed
river and in total, the rain, the water in the channels at the start and at the end, the
outflow and the residual that the scheme made or lost.

Options:
  --scheme linear        the weighted upwind scheme on discharge (the default; its results are
                         those of every earlier version, but it is not volume-conservative)
  --scheme conservative  the box scheme on storage: keeps water to round-off; needs a weight
                         from 0.5 to 1
  --channel-width COEF,EXP
                         the width of a channel cell, B = COEF * A^EXP: B in m, A its upstream
                         area in km2 (default 1.061722301,0.685081138, the model's own law;
                         docs/model.md derives 1,0.5 from the widths of real rivers).
                         A run with another law records it in output/water_balance.csv and
                         in its states, which only a run with the same law goes on from
  --write-state FILE     write the state of every routed cell at the end of the event
  --state-every HOURS DIR
                         write the state at every HOURS-th hour of the event, as
                         DIR/state_<time>.bin (time in ISO 8601 UTC)
  --keep-states K        keep only the newest K of those states (default: all)
  --warm-start FILE      start from a state instead of the initial runoff of param-event.dat;
                         the event in input/rain.dat must start when the state was taken
  --resume DIR           go on with an interrupted run from its newest complete state in DIR
                         (written by --state-every); the results equal an uninterrupted run's.
                         With no state in DIR the run starts afresh (from --warm-start's state
                         when given), so one command both starts a run and goes on with it
  --help                 print this text

Progress goes to standard output with the run's console text. Under mpirun every rank takes the
same options; a state is of the basin, so a run may go on with another number of ranks or
threads.)";

namespace {

/// The value of option `a` at args[k] ("--name VALUE" or "--name=VALUE").
Result<std::string> valueOf(const std::vector<std::string>& args, std::size_t& k,
                            const std::string& name, const char* what) {
    const std::string& a = args[k];
    if (a.size() > name.size() && a.starts_with(name + "=")) {
        return a.substr(name.size() + 1);
    }
    if (k + 1 == args.size()) {
        return Error{name + " needs " + what + "."};
    }
    return args[++k];
}

bool isOption(const std::string& a, const std::string& name) {
    return a == name || a.starts_with(name + "=");
}

/// A whole number from 1 up.
Result<std::int32_t> countOf(const std::string& name, const std::string& value) {
    std::int32_t n = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, n);
    if (ec != std::errc{} || ptr != end || n < 1) {
        return Error{name + " must be a whole number from 1, not \"" + quoteToken(value) + "\"."};
    }
    return n;
}

Status readScheme(const std::string& value, RunOptions& run) {
    if (value == "linear") {
        run.scheme = Scheme::kLinear;
    } else if (value == "conservative") {
        run.scheme = Scheme::kConservative;
    } else {
        return Error{"--scheme must be linear or conservative, not \"" + quoteToken(value) + "\"."};
    }
    return success();
}

/// Reads option args[k] into `run`; false when it is not one of the run's options.
Result<bool> readRunOption(const std::vector<std::string>& args, std::size_t& k, RunOptions& run) {
    const std::string& a = args[k];
    if (isOption(a, "--scheme")) {
        auto v = valueOf(args, k, "--scheme", "a value: linear or conservative");
        if (!v) {
            return v.error();
        }
        if (Status s = readScheme(*v, run); !s) {
            return s.error();
        }
    } else if (isOption(a, "--channel-width")) {
        auto v = valueOf(args, k, "--channel-width", "a value: COEF,EXP");
        if (!v) {
            return v.error();
        }
        auto law = parseChannelWidth("--channel-width", *v);
        if (!law) {
            return law.error();
        }
        run.channelWidth = *law;
    } else if (isOption(a, "--write-state") || isOption(a, "--warm-start")
               || isOption(a, "--resume")) {
        const std::string name = a.substr(0, a.find('='));
        auto v = valueOf(args, k, name, name == "--resume" ? "a folder" : "a file");
        if (!v) {
            return v.error();
        }
        if (v->empty()) {
            return Error{name + " needs a non-empty path."};
        }
        (name == "--write-state"  ? run.writeState
         : name == "--warm-start" ? run.warmStart
                                  : run.resume) = *v;
    } else if (isOption(a, "--state-every")) {
        auto hours = valueOf(args, k, "--state-every", "a number of hours and a folder");
        if (!hours) {
            return hours.error();
        }
        auto n = countOf("--state-every", *hours);
        if (!n) {
            return n.error();
        }
        if (k + 1 == args.size() || args[k + 1].empty()) {
            return Error{"--state-every needs a folder after the hours."};
        }
        run.stateEvery = *n;
        run.stateDir = args[++k];
    } else if (isOption(a, "--keep-states")) {
        auto v = valueOf(args, k, "--keep-states", "a number");
        if (!v) {
            return v.error();
        }
        auto n = countOf("--keep-states", *v);
        if (!n) {
            return n.error();
        }
        run.keepStates = *n;
    } else {
        return false;
    }
    return true;
}

}  // namespace

Result<CommandLine> parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--help" || a == "-h") {
            line.help = true;
            continue;
        }
        auto known = readRunOption(args, k, line.run);
        if (!known) {
            return known.error();
        }
        if (!*known) {
            return Error{"Unknown argument \"" + quoteToken(a)
                         + "\" (runoff_sim --help lists the options)."};
        }
    }
    const RunOptions& r = line.run;
    if (r.keepStates > 0 && r.stateEvery == 0 && r.resume.empty()) {
        return Error{"--keep-states needs --state-every."};
    }
    return line;
}

}  // namespace hydro::runoff
