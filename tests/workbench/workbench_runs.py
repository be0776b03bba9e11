#!/usr/bin/python3
"""The workbench's runs checked against independent oracles: the import page's flags against the
engine's own drops.csv; a what-if run folder against basinfit-import run by hand on the same
stations; the progress stream re-joined after the run; a cancelled run recorded cancelled and taken
again by basinfit-batch.

    workbench_runs.py BUILD_APPS_DIR SOURCE_DIR
"""
import csv
import filecmp
import http.client
import json
import os
import re
import subprocess
import sys
import tempfile

apps, source = (os.path.abspath(a) for a in sys.argv[1:3])
failures = []


def check(case, ok, detail=""):
    print("%-70s %s %s" % (case, "ok  " if ok else "FAIL", detail))
    if not ok:
        failures.append(case)


pdx = open(os.path.join(source, "examples", "pddx", "survey.pdx")).read()
structure = open(os.path.join(source, "examples", "pddx", "structure.csv")).read()
head, *points = re.split(r"(?m)^(?=\[Test Location )", pdx)


def survey_text(chosen):
    """The example survey with only the test locations `chosen` (indices), renumbered."""
    body = ""
    for n, i in enumerate(chosen, 1):
        body += re.sub(r"\[Test Location \d+\]", "[Test Location %d]" % n, points[i])
    return re.sub(r"NumberOfTestLocations = \d+", "NumberOfTestLocations = %d" % len(chosen), head) + body


class Workbench:
    def __init__(self, project):
        self.process = subprocess.Popen([os.path.join(apps, "basinfit-workbench"), project, "--no-browser", "-j", "1"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.process.stdout.readline()
        url = self.process.stdout.readline().strip()
        self.port = int(url.split(":")[2].split("/")[0])
        self.headers = {"Host": "127.0.0.1:%d" % self.port}
        status, headers, _ = self.call("GET", "/?key=" + url.split("key=")[1])
        self.headers["Cookie"] = headers["Set-Cookie"].split(";")[0]

    def call(self, method, path, body=None, extra=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        c.request(method, path, body=body, headers={**self.headers, **(extra or {})})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, dict(r.getheaders()), data

    def json(self, method, path, body=None):
        status, _, data = self.call(method, path, None if body is None else json.dumps(body))
        return status, json.loads(data)

    def events(self, after=0, last_event_id=None, until="end"):
        """The events from `after` (or the Last-Event-ID header) up to the first `until`."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        extra = {"Last-Event-ID": str(last_event_id)} if last_event_id is not None else {}
        c.request("GET", "/api/events?after=%d" % after, headers={**self.headers, **extra})
        stream = c.getresponse()
        events, current = [], {}
        while True:
            line = stream.fp.readline().decode().rstrip("\n")
            if line.startswith("id: "):
                current["id"] = int(line[4:])
            elif line.startswith("event: "):
                current["event"] = line[7:]
            elif line.startswith("data: "):
                current["data"] = json.loads(line[6:])
            elif line == "" and "event" in current:
                events.append(current)
                if current["event"] == until:
                    break
                current = {}
        c.close()
        return events

    def add_survey(self, name, text):
        self.call("PUT", "/api/upload?name=" + name, text.encode())
        return self.json("POST", "/api/surveys", {"file": name})[1]["survey"]

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


with tempfile.TemporaryDirectory() as top:
    project = os.path.join(top, "project")
    workbench = Workbench(project)
    try:
        # A survey with a basin that rises away from the load and a drop off every load level.
        bad = pdx.replace("DropData2 = 40.000,415,356,318,276,246,193,154,125,104",
                          "DropData2 = 40.000,415,356,318,276,246,293,154,125,104")
        bad = bad.replace("DropData1 = 27.000,278,237,211,184,157,123,97,77,64",
                          "DropData1 = 33.000,278,237,211,184,157,123,97,77,64")
        survey = workbench.add_survey("bad.pdx", bad)
        open(os.path.join(project, "inputs", survey + ".structure.csv"), "w").write(structure)
        preview = workbench.json("GET", "/api/preview?survey=" + survey)[1]
        status, started = workbench.json("POST", "/api/run", {"run": survey})
        end = workbench.events()[-1]["data"]
        check("run of a survey with bad drops: ends ok", status == 202 and end["status"] == "ok", str(end))
        raw = {"deflection_not_positive", "basin_not_decreasing", "load_off_level"}
        with open(os.path.join(project, "out", "surveys", survey, "drops.csv"), newline="") as f:
            engine = [set(r["flags"].split(";")) & raw for r in csv.DictReader(f)]
        shown = [set(filter(None, d["flags"].split(";"))) for s in preview["stations"] for d in s["drops"]]
        check("import page's raw-data flags equal the engine's, drop by drop", shown == engine,
              "%d flagged drops" % sum(1 for s in shown if s))
        check("the two planted faults are flagged", {"basin_not_decreasing", "load_off_level"} <= set().union(*shown))

        # Re-joining the progress after the run: everything from the start, or from a given event.
        everything = workbench.events(0)
        kinds = [e["event"] for e in everything]
        check("progress re-joined after the run: start, 12 stations, end",
              kinds[0] == "start" and kinds.count("station") == 12 and kinds[-1] == "end", str(kinds.count("station")))
        later = workbench.events(last_event_id=everything[5]["id"])
        check("re-joined from an event id: only the events after it",
              [e["id"] for e in later] == [e["id"] for e in everything[6:]])

        # A what-if of three stations is the run folder basinfit-import writes for those stations.
        form = workbench.json("GET", "/api/structure?run=" + survey)[1]
        status, answer = workbench.json("POST", "/api/run", {"survey": survey, "whatif": {
            "stations": ["1000", "1050", "1100"], "left_out": {}, "structure": form}})
        end = workbench.events(started["state"]["last_event"])[-1]["data"]
        whatif = answer.get("run", "")
        by_hand = os.path.join(top, "by-hand")
        part = survey_text([0, 1, 2])
        part = part.replace("DropData2 = 40.000,415,356,318,276,246,193,154,125,104",
                            "DropData2 = 40.000,415,356,318,276,246,293,154,125,104")
        part = part.replace("DropData1 = 27.000,278,237,211,184,157,123,97,77,64",
                            "DropData1 = 33.000,278,237,211,184,157,123,97,77,64")
        open(os.path.join(top, "part.pdx"), "w").write(part)
        structure_file = os.path.join(project, "inputs", "runs", whatif + ".structure.csv")
        subprocess.run([os.path.join(apps, "basinfit-import"), os.path.join(top, "part.pdx"), "--structure",
                        structure_file, "--out", by_hand], check=True, capture_output=True)
        folder = os.path.join(project, "inputs", "runs", whatif)
        same = [filecmp.cmp(os.path.join(folder, f), os.path.join(by_hand, f), shallow=False)
                for f in ("standard.dat", "general.dat", "deflections.dat")]
        check("what-if run folder = basinfit-import on the same stations", all(same) and end["status"] == "ok",
              str(same))
        results = workbench.json("GET", "/api/results?run=" + whatif)[1]
        check("what-if results hold exactly its three stations",
              [s["station"] for s in results["stations"]] == ["1000", "1050", "1100"])

        # A drop left out is a source drop removed: three drops at that station, the others whole.
        status, answer = workbench.json("POST", "/api/run", {"survey": survey, "whatif": {
            "stations": ["1000", "1050"], "left_out": {"1050": [1]}, "structure": form}})
        workbench.events(workbench.json("GET", "/api/project")[1]["state"]["last_event"] - 1)
        deflections = open(os.path.join(project, "inputs", "runs", answer["run"], "deflections.dat")).read()
        check("a left-out drop: 4 and 3 drops, its load line gone",
              re.search(r"(?m)^1000 4 ", deflections) and re.search(r"(?m)^1050 3 ", deflections)
              and "33000 278" not in deflections, deflections.splitlines()[1:3])

        # Cancel: the run stops after the station in hand, is recorded failed, and the batch takes
        # it again and completes it.
        body = ""
        for k in range(25):
            for p in points:
                p = re.sub(r"\[Test Location \d+\]", "[Test Location %d]" % (body.count("[Test Location ") + 1), p)
                body += re.sub(r"TestLocation = ([\d.]+)", lambda m: "TestLocation = %.3f" % (float(m[1]) + 0.6 * k), p)
        long = re.sub(r"NumberOfTestLocations = \d+", "NumberOfTestLocations = 300", head) + body
        name = workbench.add_survey("long.pdx", long)
        open(os.path.join(project, "inputs", name + ".structure.csv"), "w").write(
            "units,metric\nlayer,1,backcalculated,0.35,3000,500,20000\nlayer,2,backcalculated,0.35,300,50,3000\n"
            "layer,3,backcalculated,0.45,60,10,500\nthickness,,,15,30\n")
        status, started = workbench.json("POST", "/api/run", {"run": name})
        workbench.events(started["state"]["last_event"] - 1, until="station")
        cancel = workbench.json("POST", "/api/cancel", {})[1]
        end = workbench.events(started["state"]["last_event"] - 1)[-1]["data"]
        # A cancel is no failure and no signal: recorded as cancelled, with the documented status 130.
        check("cancel: the run ends cancelled, recorded cancelled (status 130), with no result rows",
              cancel["cancelled"] and end["status"] == "cancelled" and end["record"]["status"] == "cancelled"
              and end["record"]["exit_status"] == 130 and end["record"]["stations"] == 0, str(end.get("record")))
        batch = subprocess.run([os.path.join(apps, "basinfit-batch"), "run", os.path.join(project, "manifest.csv"),
                                "--out", os.path.join(project, "out"), "-j", "2"], capture_output=True, text=True)
        check("basinfit-batch then reruns only the cancelled survey",
              batch.returncode == 0 and "1 run" in batch.stderr and "already done" in batch.stderr, batch.stderr.strip())
        rows = workbench.json("GET", "/api/results?run=" + name)[1]["stations"]
        check("and the workbench shows its 300 stations", len(rows) == 300, str(len(rows)))

        # A CSV survey reads only with its options (plate radius, offsets): they are options of the
        # survey's manifest row, set through the workbench, checked by the options' one validator.
        rows_csv = "station,chainage,drop,load,d1,d2,d3,d4,d5\n" + "".join(
            "P%d,%d,1,%d,%d,%d,%d,%d,%d\n" % (k, 100 * k, 40000 + 50 * k, 420 + k, 310, 230, 170, 120)
            for k in range(1, 4))
        csv_name = workbench.add_survey("plain.csv", rows_csv)
        status, answer = workbench.json("GET", "/api/preview?survey=" + csv_name)
        check("a CSV survey without its options is added, its preview names what is missing",
              status == 422 and "--offsets" in answer.get("error", ""), str(answer))
        status, answer = workbench.json("PUT", "/api/survey-options",
                                        {"survey": csv_name, "options": {"skip_seating": "two"}})
        check("a bad option value is refused by the one validator, the manifest unchanged",
              status == 422 and "expected a whole number from 0 to 1000, found 'two'" in answer.get("error", "")
              and "skip_seating" not in open(os.path.join(project, "manifest.csv")).readline(), str(answer))
        status, answer = workbench.json("PUT", "/api/survey-options", {"survey": csv_name, "options": {
            "plate_radius": "150", "offset_unit": "mm", "offsets": "0;300;600;900;1200",
            "temperature_adjust": "0"}})
        check("its options set", status == 200 and answer.get("plate_radius") == "150", str(answer))
        status, preview = workbench.json("GET", "/api/preview?survey=" + csv_name)
        check("then it reads: three stations", status == 200 and len(preview["stations"]) == 3,
              str(preview)[:200])
        options_table = workbench.json("GET", "/api/options")[1]
        check("every option is a field of the workbench",
              {o["key"] for o in options_table} >= {"plate_radius", "offsets", "load_levels", "skip_seating"},
              str(len(options_table)))
        form = {"units": "metric", "title": "", "stiff_layer": False, "points": [],
                "layers": [{"type": "backcalculated", "poisson": "0.35", "modulus": "3000", "lower": "500",
                            "upper": "20000"},
                           {"type": "backcalculated", "poisson": "0.45", "modulus": "100", "lower": "10",
                            "upper": "1000"}],
                "ranges": [{"from": "", "to": "", "thicknesses": ["20"]}]}
        workbench.json("PUT", "/api/structure", {"survey": csv_name, "form": form})
        status, started = workbench.json("POST", "/api/run", {"run": csv_name})
        end = workbench.events(started["state"]["last_event"] - 1)[-1]["data"]
        check("the CSV survey runs with its options", end.get("status") == "ok", str(end))
        batch = subprocess.run([os.path.join(apps, "basinfit-batch"), "run", os.path.join(project, "manifest.csv"),
                                "--out", os.path.join(project, "out"), "-j", "2"], capture_output=True, text=True)
        check("and basinfit-batch takes the same row as done", batch.returncode == 0 and " 0 run" in batch.stderr,
              batch.stderr.strip())
    finally:
        workbench.stop()

if failures:
    print("%d cases failed" % len(failures))
    sys.exit(1)
print("PASS")
