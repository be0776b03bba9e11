#!/usr/bin/python3
"""The workbench's own cost: its share of a run's time and the memory of an idle server.

    bench/workbench_measure.py BUILD_APPS_DIR [RUNS] [COPIES]

Runs the example PDDX survey (its 12 test locations repeated COPIES times along the route,
default 1) RUNS times (default 5) through the server, each time as a new what-if row with every
station, so that each is a real run, and prints for each the time from the request to the end
event, the batch's time (import, engine, database) and the engine's own wall time (its run
record): the server's share is what lies outside the batch.  Then the resident memory of the
server idle with the project open, after the page's requests.
"""
import http.client
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

apps = os.path.abspath(sys.argv[1])
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
copies = int(sys.argv[3]) if len(sys.argv) > 3 else 1
source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

with tempfile.TemporaryDirectory() as project:
    server = subprocess.Popen([os.path.join(apps, "basinfit-workbench"), project, "--no-browser", "-j", "2"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        server.stdout.readline()
        url = server.stdout.readline().strip()
        port = int(url.split(":")[2].split("/")[0])
        headers = {"Host": "127.0.0.1:%d" % port}

        def call(method, path, body=None):
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
            c.request(method, path, body=body, headers=headers)
            r = c.getresponse()
            data = r.read()
            c.close()
            return r.status, r.getheader("Set-Cookie"), data

        headers["Cookie"] = call("GET", "/?key=" + url.split("key=")[1])[1].split(";")[0]
        text = open(os.path.join(source, "examples/pddx/survey.pdx")).read()
        head, *points = re.split(r"(?m)^(?=\[Test Location )", text)
        body = ""
        for k in range(copies):
            for p in points:
                n = body.count("[Test Location ") + 1
                p = re.sub(r"\[Test Location \d+\]", "[Test Location %d]" % n, p)
                p = re.sub(r"TestLocation = ([\d.]+)", lambda m: "TestLocation = %.3f" % (float(m[1]) + 0.6 * k), p)
                body += p
        head = re.sub(r"NumberOfTestLocations = \d+", "NumberOfTestLocations = %d" % (len(points) * copies), head)
        call("PUT", "/api/upload?name=survey.pdx", (head + body).encode())
        name = json.loads(call("POST", "/api/surveys", json.dumps({"file": "survey.pdx"}))[2])["survey"]
        form = json.loads(call("GET", "/api/structure?run=" + name)[2])
        rows = []
        for i in range(runs):
            last = json.loads(call("GET", "/api/project")[2])["state"]["last_event"]
            status, _, body = call("POST", "/api/run", json.dumps(
                {"survey": name, "whatif": {"stations": [], "left_out": {}, "structure": form}}))
            assert status == 202, body
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
            c.request("GET", "/api/events?after=%d" % last, headers=headers)
            stream = c.getresponse()
            event = ""
            while True:
                line = stream.fp.readline().decode().strip()
                if line.startswith("event: "):
                    event = line[7:]
                elif line.startswith("data: ") and event == "end":
                    end = json.loads(line[6:])
                    break
            c.close()
            assert end["status"] == "ok", end
            rows.append((end["seconds"], end["batch_seconds"], end.get("engine_seconds", 0)))
            print("run %d: %.3f s from the request to the end; batch %.3f s (engine %.3f s); server %.1f %%"
                  % (i + 1, rows[-1][0], rows[-1][1], rows[-1][2], 100 * (1 - rows[-1][1] / rows[-1][0])))
        total, batch, engine = (statistics.median(r[j] for r in rows) for j in range(3))
        print("median of %d runs of %d stations: %.3f s; batch %.3f s, engine %.3f s; the server's share %.1f %%, "
              "the batch's own (import, database) %.1f %%"
              % (runs, 12 * copies, total, batch, engine, 100 * (1 - batch / total), 100 * (batch - engine) / total))
        call("GET", "/api/project")
        call("GET", "/api/results?run=" + name + ".w1")
        time.sleep(2)
        rss = [l for l in open("/proc/%d/status" % server.pid) if l.startswith("VmRSS")][0].split()[1]
        print("idle server with the project open: VmRSS %.1f MiB" % (int(rss) / 1024))
    finally:
        server.terminate()
        server.wait(timeout=20)
