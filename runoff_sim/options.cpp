#include "runoff_sim/options.h"

#include "common/number_stream.h"

namespace hydro::runoff {

const char* const kUsage = R"(Usage: runoff_sim [--scheme linear|conservative]

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
  --help                 print this text

Progress goes to standard output with the run's console text. Under mpirun every rank takes the
same options.)";

Result<CommandLine> parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--help" || a == "-h") {
            line.help = true;
        } else if (a == "--scheme" || a.starts_with("--scheme=")) {
            std::string value;
            if (a == "--scheme") {
                if (k + 1 == args.size()) {
                    return Error{"--scheme needs a value: linear or conservative."};
                }
                value = args[++k];
            } else {
                value = a.substr(9);
            }
            if (value == "linear") {
                line.run.scheme = Scheme::kLinear;
            } else if (value == "conservative") {
                line.run.scheme = Scheme::kConservative;
            } else {
                return Error{"--scheme must be linear or conservative, not \"" + quoteToken(value)
                             + "\"."};
            }
        } else {
            return Error{"Unknown argument \"" + quoteToken(a)
                         + "\" (runoff_sim --help lists the options)."};
        }
    }
    return line;
}

}  // namespace hydro::runoff
