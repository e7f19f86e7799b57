#include "calibrate/history.h"

#include <sstream>

#include "common/number_stream.h"
#include "results/gauge_table.h"

namespace hydro::calibrate {

namespace {

std::string optionalText(const std::optional<double>& v) {
    return v ? shortestText(*v) : std::string();
}

}  // namespace

std::string historyHeader(const std::vector<Range>& ranges,
                          const std::vector<std::string>& gaugeIds) {
    std::string header = "run";
    for (const Range& r : ranges) {
        header += std::string(",") + members::parameterName(r.parameter);
    }
    header += ",objective";
    for (const std::string& id : gaugeIds) {
        for (const char* column : {"_n", "_nse", "_kge", "_kge_prime", "_pbias_pct",
                                   "_peak_error_pct", "_peak_timing_h"}) {
            header += "," + id + column;
        }
    }
    return header;
}

std::string valuesText(const std::vector<double>& values) {
    std::string text;
    for (std::size_t k = 0; k < values.size(); ++k) {
        text += (k == 0 ? "" : ",") + shortestText(values[k]);
    }
    return text;
}

std::string historyRow(std::int64_t run, const std::vector<double>& values,
                       const std::optional<double>& objective,
                       const std::vector<GaugeScore>& scores) {
    std::string row =
        std::to_string(run) + "," + valuesText(values) + "," + optionalText(objective);
    for (const GaugeScore& g : scores) {
        const gauges::Skill& s = g.skill;
        row += "," + std::to_string(s.n) + "," + optionalText(s.nse) + "," + optionalText(s.kge)
               + "," + optionalText(s.kgePrime) + "," + optionalText(s.pbiasPct) + ","
               + optionalText(s.peakErrorPct) + ","
               + (s.peakTimingH ? std::to_string(*s.peakTimingH) : std::string());
    }
    return row;
}

Result<std::vector<RecordedRun>> readHistory(const std::filesystem::path& path,
                                             const std::string& header, std::size_t valueCount) {
    const auto text = results::readTableFile(path);
    if (!text) {
        return text.error();
    }
    const std::string name = path.filename().string();
    std::vector<RecordedRun> runs;
    std::size_t from = 0;
    bool first = true;
    while (from < text->size()) {
        const auto end = text->find('\n', from);
        if (end == std::string::npos) {
            break;  // a row the stop cut short
        }
        const std::string line = text->substr(from, end - from);
        from = end + 1;
        if (first) {
            if (line != header) {
                return Error{name + " was written by a calibration of other values or gauges; "
                                    "remove it or run without --resume."};
            }
            first = false;
            continue;
        }
        const std::vector<std::string> cells = results::splitCsvLine(line);
        const std::string rowName = name + " row " + std::to_string(runs.size() + 1);
        if (cells.size() < valueCount + 2 || cells[0] != std::to_string(runs.size() + 1)) {
            return Error{rowName + " is not the row of run " + std::to_string(runs.size() + 1)
                         + "; remove the file or run without --resume."};
        }
        RecordedRun run;
        run.line = line;
        for (std::size_t k = 1; k <= valueCount; ++k) {
            run.valuesText += (k == 1 ? "" : ",") + cells[k];
        }
        if (!cells[valueCount + 1].empty()) {
            run.objective = parseDouble(cells[valueCount + 1]);
            if (!run.objective) {
                return Error{rowName + " holds an objective that is not a number."};
            }
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

}  // namespace hydro::calibrate
