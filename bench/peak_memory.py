#!/usr/bin/env python3
"""Peak memory of the engine against the length of the survey.

Writes surveys of 2,000 and 20,000 one-drop stations (the metric example's drops, cycled, under
new names) and runs the engine on each with the default number of workers, reporting the peak
resident memory (the child's maximum RSS) beside the size of the deflection data file.  The
engine holds the input file in memory and only the stations in flight: the peak must not grow
with the number of stations beyond the file itself.

    bench/peak_memory.py [BUILD_DIR] [--jobs N]
"""
import os
import subprocess
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = [a for a in sys.argv[1:] if not a.startswith("--jobs")]
build = args[0] if args else os.path.join(root, "build")
jobs = []
for i, a in enumerate(sys.argv):
    if a == "--jobs":
        jobs = ["--jobs", sys.argv[i + 1]]
engine = os.path.join(build, "apps", "basinfit")
example = os.path.join(root, "examples", "metric")

with open(os.path.join(example, "deflections.dat")) as f:
    lines = [l.rstrip("\n") for l in f]
route, body = lines[0], [l for l in lines[1:] if l.strip()]
headers = [i for i, l in enumerate(body) if len(l.split()) == 8]
drops = []
for i in headers:
    header = body[i].split()
    for d in range(int(header[1])):
        drops.append((header[2:], body[i + 1 + d]))


def run(stations):
    with tempfile.TemporaryDirectory() as folder:
        deflections = os.path.join(folder, "deflections.dat")
        with open(deflections, "w") as out:
            out.write(route + "\n")
            for k in range(stations):
                rest, drop = drops[k % len(drops)]
                out.write("S%d 1 %s\n%s\n" % (k, " ".join(rest), drop))
        control = os.path.join(folder, "control.txt")
        with open(control, "w") as c:
            c.write("9\n%s\n%s\n%s\n%s\n%s\n%s\n" % (
                os.path.join(example, "standard.dat"), os.path.join(example, "general.dat"), deflections,
                os.path.join(folder, "detail.txt"), os.path.join(folder, "summary.txt"),
                os.path.join(folder, "run.log")))
        child = subprocess.Popen([engine, "--quiet"] + jobs + [control])
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0:
            sys.exit("the engine failed on %d stations" % stations)
        size = os.path.getsize(deflections)
        print("%6d stations: deflection file %7.1f KiB, peak resident memory %7.1f MiB" % (
            stations, size / 1024, usage.ru_maxrss / 1024))


for n in (2000, 20000):
    run(n)
