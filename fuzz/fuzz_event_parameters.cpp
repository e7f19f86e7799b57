// The parameter file, as the simulator reads it (18 values) and as the post-processors read it
// (the first 11, in both echo styles). Whatever the bytes, each reader gives values within
// their rules or one printable error line, and a file that serves the simulator serves the
// post-processors with the same counts.

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "case/event_parameters.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const hydro::fuzz::DescriptorCheck descriptors;
    const auto path = hydro::fuzz::scratchDir() / "param-event.dat";
    hydro::fuzz::writeFile(path, {data, size});

    std::ostringstream echo;
    const auto event = hydro::readEventParameters(path, &echo);
    if (event) {
        const hydro::EventParameters& p = *event;
        require(p.studyCols >= 1 && p.studyRows >= 1 && p.rainCols >= 1 && p.rainRows >= 1
                    && p.days >= 1,
                "a count below 1 accepted");
        require(p.timeStep >= 1 && p.timeStep <= 3600, "a time step outside 1..3600 accepted");
        require(p.subStepsPerHour == 3600 / p.timeStep, "sub-steps per hour not 3600 / step");
        require(p.weight >= 0.0 && p.weight <= 1.0, "a weight outside 0..1 accepted");
        require(p.manningSlope > 0.0 && p.manningChannel > 0.0, "a roughness of 0 accepted");
        require(p.channelArea >= 0 && p.initialRunoff >= 0.0, "a negative value accepted");
        if (const hydro::Status e = hydro::checkGridSize(p); !e) {
            requirePrintableLine(e.error().message);
        }
        if (const hydro::Status e = hydro::checkLatitudes(p); !e) {
            requirePrintableLine(e.error().message);
        }
        static_cast<void>(hydro::stepsFillTheHour(p));
    } else {
        requirePrintableLine(event.error().message);
    }

    for (const auto style : {hydro::EchoStyle::kMap, hydro::EchoStyle::kSeries}) {
        std::ostringstream outputEcho;
        const auto output = hydro::readOutputParameters(path, &outputEcho, style);
        if (!output) {
            requirePrintableLine(output.error().message);
            require(!event, "the 11-value reader refuses a file that the 18-value reader takes");
            continue;
        }
        if (event) {
            require(output->studyCols == event->studyCols && output->studyRows == event->studyRows
                        && output->rainCols == event->rainCols
                        && output->rainRows == event->rainRows && output->days == event->days,
                    "the two readers read different counts from one file");
        }
    }
    return 0;
}
