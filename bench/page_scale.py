#!/usr/bin/env python3
"""Size of the survey page, the engine's peak memory with and without it, and the time a
headless browser takes to open it, against the length of the survey.

Writes surveys of the metric example's stations (every drop), cycled under new identifiers
10 m apart, runs the engine on each RUNS times with --html and as often without (medians of
the peak resident memory and of the wall time), checks that nothing but the page is left beside
it, and opens the page in headless chromium (no network) REPEAT times, reporting the median wall
time until the page's script has run (the DOM is dumped only after the load event), beside the
time the same browser takes for a page of one line (its start-up) and the machine's load average.

    bench/page_scale.py [BUILD_DIR] [--stations N[,N...]] [--repeat R] [--runs RUNS] [--jobs J]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
argv = sys.argv[1:]
options = {"--stations": "2000,20000", "--repeat": "3", "--runs": "1", "--jobs": "2"}
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
engine = os.path.join(build, "apps", "basinfit")
example = os.path.join(root, "examples", "metric")

with open(os.path.join(example, "deflections.dat")) as f:
    lines = [l.rstrip("\n") for l in f]
route, body = lines[0], [l for l in lines[1:] if l.strip()]
stations = []
k = 0
while k < len(body):
    header = body[k].split()
    drops = int(header[1])
    stations.append((header[1:], body[k + 1:k + 1 + drops]))
    k += 1 + drops


def run_engine(folder, html):
    control = os.path.join(folder, "control.txt")
    with open(control, "w") as c:
        c.write("9\n%s\n%s\n%s\n%s\n%s\n%s\n" % (
            os.path.join(example, "standard.dat"), os.path.join(example, "general.dat"),
            os.path.join(folder, "deflections.dat"), os.path.join(folder, "detail.txt"),
            os.path.join(folder, "summary.txt"), os.path.join(folder, "run.log")))
    extra = ["--html", os.path.join(folder, "page.html")] if html else []
    # A child of this script starts its life with the script's own high-water mark (some 15 MiB),
    # which would hide a smaller engine: GNU time, small itself, forks the engine and reports it.
    measured = os.path.join(folder, "peak.txt")
    timer = ["/usr/bin/time", "-f", "%M", "-o", measured] if os.access("/usr/bin/time", os.X_OK) else []
    start = time.monotonic()
    child = subprocess.Popen(timer + [engine, "--quiet", "--jobs", options["--jobs"]] + extra + [control])
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit("the engine failed")
    elapsed = time.monotonic() - start
    if timer:
        with open(measured) as f:
            peak = int(f.read().split()[-1])
        os.remove(measured)
        return peak / 1024, elapsed
    return usage.ru_maxrss / 1024, elapsed


def open_in_browser(page, folder, marker='data-script="ready"'):
    isolate = ["unshare", "-n"] if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0 else []
    times = []
    for r in range(int(options["--repeat"])):
        profile = tempfile.mkdtemp(dir=folder)
        start = time.monotonic()
        out = subprocess.run(isolate + ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                        "--disable-background-networking", "--disable-component-update",
                                        "--proxy-server=127.0.0.1:9", "--user-data-dir=" + profile, "--dump-dom",
                                        "file://" + page], capture_output=True, text=True, timeout=300)
        elapsed = time.monotonic() - start
        if marker not in out.stdout:
            sys.exit("the page's script did not run in the browser")
        times.append(elapsed)
    return statistics.median(times)


with tempfile.TemporaryDirectory() as folder:
    empty = os.path.join(folder, "empty.html")
    with open(empty, "w") as f:
        f.write("<!DOCTYPE html><html><body>start-up</body></html>")
    print("chromium start-up (a page of one line): %.1f s (median of %s); load average %.1f" % (
        open_in_browser(empty, folder, "start-up"), options["--repeat"], os.getloadavg()[0]), flush=True)

for n in [int(v) for v in options["--stations"].split(",")]:
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "deflections.dat"), "w") as out:
            out.write(route + "\n")
            for s in range(n):
                header, drops = stations[s % len(stations)]
                out.write("%d %s\n" % (10 * s, " ".join(header)))
                for d in drops:
                    out.write(d + "\n")
        before = set(os.listdir(folder))
        runs = int(options["--runs"])
        plain = [run_engine(folder, False) for _ in range(runs)]
        paged = [run_engine(folder, True) for _ in range(runs)]
        plain_memory = statistics.median(m for m, _ in plain)
        plain_time = statistics.median(t for _, t in plain)
        page_memory = statistics.median(m for m, _ in paged)
        page_time = statistics.median(t for _, t in paged)
        left = set(os.listdir(folder)) - before - {"control.txt", "detail.txt", "summary.txt", "run.log", "page.html"}
        if left:
            sys.exit("the engine left %s beside the page" % sorted(left))
        page = os.path.join(folder, "page.html")
        size = os.path.getsize(page) / (1024 * 1024)
        opened = open_in_browser(page, folder)
        print("%6d stations: page %6.1f MiB; peak memory %6.1f MiB with --html, %6.1f MiB without; "
              "engine %5.1f s with, %5.1f s without (medians of %d); opens in chromium in %4.1f s (median "
              "of %s; load average %.1f)" % (n, size, page_memory, plain_memory, page_time, plain_time, runs,
                                            opened, options["--repeat"], os.getloadavg()[0]), flush=True)
