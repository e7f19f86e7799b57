#pragma once

// Checks of the folders a tool is given, whose error lines name the full path and the fix:
// a folder that is not a case, and an output folder that does not exist (the programs never
// create folders).

#include <filesystem>

#include "common/result.h"

namespace hydro {

/// Succeeds when `dir` holds param-event.dat, or holds topoData/ or input/ (a case that lacks
/// only its parameter file is left to the parameter reader's own line). Otherwise the line
/// names `dir` and what a case folder holds: "this is not a case folder: no param-event.dat in
/// DIR", pointing at the parent when `dir` is a case's output/ folder; a file, or a path that
/// does not exist, is said to be one.
[[nodiscard]] Status checkCaseFolder(const std::filesystem::path& dir);

/// Succeeds when `dir` is a folder; otherwise "DIR is not a folder: create it with: mkdir -p
/// DIR" when nothing is there, or that something else is there.
[[nodiscard]] Status checkOutputFolder(const std::filesystem::path& dir);

}  // namespace hydro
