#!/usr/bin/env python3
"""A network of small surveys through basinfit-batch: the rate on one worker against two, the
database's share of the run, and the batch's peak memory against the number of surveys.

Writes SURVEYS copies of the metric example (12 stations, 48 drops) as run folders and a
manifest, then runs `basinfit-batch run --verbose` into a fresh folder REPEAT times with
`--jobs 1` and with `--jobs J`, reporting the median wall time of each, their ratio (the speed-up),
the median share of the run's processor time spent loading results into the database (from
--verbose), and the
peak resident memory (GNU time) of a batch of SURVEYS/2 and of SURVEYS surveys.  The load average
is printed first: on a busy machine the ratio says little.

    bench/batch_scale.py [BUILD_DIR] [--surveys N] [--repeat R] [--jobs J]
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
argv = sys.argv[1:]
options = {"--surveys": "40", "--repeat": "3", "--jobs": "2"}
positional = []
i = 0
while i < len(argv):
    if argv[i] in options:
        options[argv[i]] = argv[i + 1]
        i += 2
    else:
        positional.append(argv[i])
        i += 1
build = positional[0] if positional else os.path.join(root, "build")
batch = os.path.join(build, "apps", "basinfit-batch")
surveys, repeat, jobs = int(options["--surveys"]), int(options["--repeat"]), int(options["--jobs"])
example = os.path.join(root, "examples", "metric")


def network(folder, count):
    """COUNT run folders of the metric example and their manifest."""
    manifest = os.path.join(folder, f"network-{count}.csv")
    with open(manifest, "w") as m:
        m.write("name,source\n")
        for n in range(count):
            run = os.path.join(folder, "runs", f"s{n:04d}")
            if not os.path.isdir(run):
                os.makedirs(run)
                for name in ("standard.dat", "general.dat", "deflections.dat"):
                    shutil.copy(os.path.join(example, name), run)
                with open(os.path.join(run, "control.txt"), "w") as c:
                    c.write("9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.out\nsummary.out\nbasinfit.log\n")
            m.write(f"s{n:04d},runs/s{n:04d}\n")
    return manifest


def run(manifest, out, workers):
    shutil.rmtree(out, ignore_errors=True)
    started = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-f", "peak %M", batch, "run", manifest, "--out", out,
                           "--jobs", str(workers), "--verbose"], capture_output=True, text=True)
    seconds = time.monotonic() - started
    if done.returncode != 0:
        sys.exit(f"basinfit-batch failed: {done.stderr}")
    share = float(re.search(r"of which the database [0-9.]+ s \(([0-9.]+) %\)", done.stderr).group(1))
    peak = int(re.search(r"peak (\d+)", done.stderr).group(1)) / 1024
    return seconds, share, peak


print(f"load average {os.getloadavg()[0]:.2f}, {os.cpu_count()} processors, {surveys} surveys of 48 drops")
with tempfile.TemporaryDirectory() as folder:
    manifest = network(folder, surveys)
    out = os.path.join(folder, "out")
    results = {}
    for workers in (1, jobs):
        runs = [run(manifest, out, workers) for _ in range(repeat)]
        wall = statistics.median(r[0] for r in runs)
        results[workers] = wall
        print(f"--jobs {workers}: median {wall:.2f} s ({surveys * 48 / wall:.0f} drops/s), database share "
              f"median {statistics.median(r[1] for r in runs):.1f} %, peak {statistics.median(r[2] for r in runs):.1f} MiB")
    print(f"speed-up with {jobs} workers: {results[1] / results[jobs]:.2f}")
    half = network(folder, surveys // 2)
    for count, m in ((surveys // 2, half), (surveys, manifest)):
        peaks = [run(m, out, jobs)[2] for _ in range(repeat)]
        print(f"{count} surveys, --jobs {jobs}: peak resident memory median {statistics.median(peaks):.1f} MiB")
