#!/usr/bin/env python3
"""The layering rules of docs/architecture.md, checked on the include lines of the tree.

- common/ includes only common/; case/ adds case/; physics/ and results/ add themselves;
  routing/ adds physics/ and itself; members/ adds routing/ and results/.
- No program's folder includes another program's folder.
- Nothing outside runoff_sim/ includes runoff_sim/, tests and benchmarks aside.
- members/ serves the programs that run many members (calibrate, ensemble) and no other.
- physics/ (the kernel) includes no stream or file header: it does no I/O.

Usage: check_layers.py SOURCE_DIR. Prints one line per breach and exits 1, or exits 0.
"""
import pathlib
import re
import sys

LIBRARIES = {
    "common": {"common"},
    "case": {"common", "case"},
    "physics": {"common", "case", "physics"},
    "results": {"common", "case", "results"},
    "routing": {"common", "case", "physics", "routing"},
    "members": {"common", "case", "physics", "routing", "results", "members"},
}
PROGRAMS = ["runoff_sim", "discharge_map", "discharge_series", "hydrograph",
            "discharge_netcdf", "gauge_series", "make_case", "results_page", "calibrate",
            "ensemble"]
MEMBER_PROGRAMS = {"calibrate", "ensemble"}
IO_HEADERS = {"iostream", "fstream", "sstream", "ostream", "istream", "cstdio", "filesystem"}
PROJECT_INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z_]+)/')
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s*<([a-z_]+)>')


def sources(root):
    for path in sorted(root.rglob("*")):
        parts = path.relative_to(root).parts
        if path.suffix in (".h", ".cpp") and parts[0] != "build" and "node_modules" not in parts:
            yield path


def breaches(root):
    for path in sources(root):
        folder = path.relative_to(root).parts[0]
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            where = f"{path.relative_to(root)}:{number}"
            used = PROJECT_INCLUDE.match(line)
            if used:
                target = used.group(1)
                if folder in LIBRARIES and target not in LIBRARIES[folder]:
                    yield f"{where}: the {folder} library includes {target}/"
                if folder in PROGRAMS and target in PROGRAMS and target != folder:
                    yield f"{where}: {folder} includes another program's folder, {target}/"
                if (target == "runoff_sim" and folder != "runoff_sim"
                        and folder not in ("tests", "bench")):
                    yield f"{where}: runoff_sim/ is included outside it"
                if (target == "members" and folder in PROGRAMS
                        and folder not in MEMBER_PROGRAMS):
                    yield f"{where}: {folder} includes members/, which serves only " \
                          f"{', '.join(sorted(MEMBER_PROGRAMS))}"
            system = SYSTEM_INCLUDE.match(line)
            if folder == "physics" and system and system.group(1) in IO_HEADERS:
                yield f"{where}: the kernel includes <{system.group(1)}>"


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    found = list(breaches(root))
    for line in found:
        print(line)
    checked = sum(1 for _ in sources(root))
    print(f"{checked} files checked, {len(found)} breaches of the layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
