#!/usr/bin/python3
"""The include graph kept honest: every room (folder under src/) includes only the rooms below it
in the order data flows, and nothing outside a room includes that room's internal headers
(src/ROOM/internal/); a room's own tests may.  Prints every offending include with its file and
line, and fails when there is one.

    include_graph.py SOURCE_DIR
"""
import os
import re
import sys

# Data flows one way, from the left: a room may include itself and any room before it.
ORDER = ["common", "model", "solver", "structural", "plot", "run", "report", "results", "survey", "runner", "import",
         "options", "network", "workbench"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"')

source = os.path.abspath(sys.argv[1])
rooms = set(ORDER)
found = sorted(d for d in os.listdir(os.path.join(source, "src")) if os.path.isdir(os.path.join(source, "src", d)))
problems = ["src/%s: a room missing from the order of rooms in this check" % d for d in found if d not in rooms]


def room_of(path):
    """The room a file belongs to ('src/x/...' or 'tests/x/...'), and whether it is a test."""
    parts = os.path.relpath(path, source).split(os.sep)
    if parts[0] in ("src", "tests") and len(parts) > 2 and parts[1] in rooms:
        return parts[1], parts[0] == "tests"
    return None, parts[0] == "tests"


for top in ("src", "apps", "tests", "bench", "fuzz"):
    for folder, _, files in os.walk(os.path.join(source, top)):
        for name in files:
            if not name.endswith((".h", ".cpp", ".cc")):
                continue
            path = os.path.join(folder, name)
            own, is_test = room_of(path)
            with open(path, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match or match.group(1) not in rooms:
                        continue
                    target, header = match.groups()
                    where = "%s:%d: #include \"%s/%s\"" % (os.path.relpath(path, source), number, target, header)
                    if header.startswith("internal/") and target != own:
                        problems.append(where + ": the internals of another room")
                    if own is not None and not is_test and ORDER.index(target) > ORDER.index(own):
                        problems.append(where + ": %s is above %s in the flow of data" % (target, own))

for p in problems:
    print(p)
print("include graph: %d problem%s" % (len(problems), "" if len(problems) == 1 else "s"))
sys.exit(1 if problems else 0)
