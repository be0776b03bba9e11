#!/usr/bin/env python3
"""Runs basinfit with --results on an example survey and reads every results file back with
independent tools: Python's csv module for the tables (every field of every row parsed by its
column's kind), jsonschema for run.json, hashlib for the digests it lists.  The RMS errors of
drops.csv are recomputed from sensors.csv."""

import argparse
import csv
import hashlib
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import jsonschema

FLAG_NAMES = {"deflection_not_positive", "basin_not_decreasing", "load_off_level", "rms_high", "not_converged",
              "modulus_at_bound", "poorly_determined", "not_separable", "non_unique", "uncertainty_failed"}
INTEGER_COLUMNS = {"station_no", "drop", "sensor", "line", "drops", "convergence_code", "iterations", "evaluations",
                   "multistart_runs"}
TEXT_COLUMNS = {"station", "convergence", "correlated_layers", "flags", "normalisation", "normalisation_note",
                "poorly_determined_layers", "poorly_determined_se_percent", "not_separable_layers",
                "not_separable_correlation", "modulus_at_bound_layers", "modulus_at_bound_moduli_MPa",
                "modulus_at_bound_bounds_MPa", "modulus_at_bound_moduli_ksi", "modulus_at_bound_bounds_ksi",
                "implausible_law_layers", "law_note_L2", "law_note_L3"}
# Columns that may be empty (a value that does not exist for this row).
OPTIONAL = re.compile(r"^(E1_adjusted.*|E\d_norm_.*|E\d_mean_.*|E\d_se_percent|condition_number|max_correlation|"
                      r"correlated_layers|multistart_best_.*|multistart_max_.*|flags|pavement_temperature_F|"
                      r"temperature_factor|K1_.*|K2_.*|R2_.*|soil_type_.*|coefficient_of_determination_.*|"
                      r"normalisation_note|poorly_determined_.*|not_separable_.*|modulus_at_bound_.*|"
                      r"implausible_law_layers|law_note_.*|response_.*)$")

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def parse_field(table, column, text, line):
    if text == "":
        check(OPTIONAL.match(column) is not None, f"{table} line {line}: {column} is empty")
        return None
    if column in INTEGER_COLUMNS:
        check(re.fullmatch(r"-?[0-9]+", text) is not None, f"{table} line {line}: {column}={text!r} not an integer")
        return int(text)
    if column in TEXT_COLUMNS or column.startswith("soil_type_"):
        return text
    value = float(text)  # raises on anything that is not a number
    check(re.fullmatch(r"-?(inf|[0-9]+(\.[0-9]+)?(e[-+][0-9]+)?)", text) is not None,
          f"{table} line {line}: {column}={text!r} is not a plain number")
    return value


def read_table(path, name):
    with open(path, newline="", encoding="utf-8") as f:
        raw = f.read()
    check(raw.endswith("\r\n"), f"{name}: rows do not end with CRLF")
    rows = list(csv.reader(raw.splitlines(keepends=True), strict=True))
    header, body = rows[0], rows[1:]
    check(len(set(header)) == len(header), f"{name}: repeated column names")
    parsed = []
    for number, row in enumerate(body, start=2):
        check(len(row) == len(header), f"{name} line {number}: {len(row)} fields, header has {len(header)}")
        parsed.append({c: parse_field(name, c, t, number) for c, t in zip(header, row)})
    return header, parsed


def check_layer_flags(drops, layers):
    """Every flag that concerns layers names them, with the values that raised it."""
    limits = {"poorly_determined": 25.0, "not_separable": 0.95}
    for d in drops:
        where = f"drop {d['station']}/{d['drop']}"
        flags = (d["flags"] or "").split(";")
        weak = [int(j) for j in (d["poorly_determined_layers"] or "").split(";") if j]
        values = [float(v) for v in (d["poorly_determined_se_percent"] or "").split(";") if v]
        check(bool(weak) == ("poorly_determined" in flags), f"{where}: poorly_determined without its layers")
        check(len(weak) == len(values), f"{where}: layers and standard errors do not pair up")
        for j, v in zip(weak, values):
            check(v == d[f"E{j}_se_percent"] and v > limits["poorly_determined"], f"{where}: layer {j} se {v}")
        for j in range(1, layers + 1):
            se = d[f"E{j}_se_percent"]
            check((se is not None and se > 25.0) == (j in weak), f"{where}: layer {j} se {se} vs {weak}")
        pairs = [p for p in (d["not_separable_layers"] or "").split(";") if p]
        rhos = [float(v) for v in (d["not_separable_correlation"] or "").split(";") if v]
        check(bool(pairs) == ("not_separable" in flags) and len(pairs) == len(rhos), f"{where}: not_separable pairs")
        check(all(r > limits["not_separable"] for r in rhos), f"{where}: correlations {rhos}")
        bound = [p for p in (d["modulus_at_bound_layers"] or "").split(";") if p]
        check(bool(bound) == ("modulus_at_bound" in flags), f"{where}: modulus_at_bound without its layers")


def single(value):
    """The single-precision value a field written from a float stands for (its shortest text
    reads back to that float, not to the nearest double)."""
    return struct.unpack("f", struct.pack("f", value))[0]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


STRUCTURES = {
    "metric": "units,metric\nlayer,1,backcalculated,0.35,3000,500,20000\nlayer,2,backcalculated,0.35,300,50,3000\n"
              "layer,3,backcalculated,0.45,60,10,500\nthickness,,,15,30\n",
    "english": "units,english\nlayer,1,backcalculated,0.35,435,72.5,2900\nlayer,2,backcalculated,0.35,43.5,7.25,435\n"
               "layer,3,backcalculated,0.45,8.7,1.45,72.5\nthickness,,,6,12\n",
}


def power_law_at(loads, moduli, p0):
    """log10 E = a + b log10 P by least squares over the drops, read at p0."""
    xs = [math.log10(p) for p in loads]
    ys = [math.log10(e) for e in moduli]
    xm, ym = sum(xs) / len(xs), sum(ys) / len(ys)
    b = sum((x - xm) * (y - ym) for x, y in zip(xs, ys)) / sum((x - xm) ** 2 for x in xs)
    return 10 ** (ym + b * (math.log10(p0) - xm))


def check_imported(args, pddx):
    """A PDDX file through the importer and the engine with --results alone: every station has its
    normalised moduli (a trend value recomputed here from drops.csv where the drops do not bracket
    the standard load), flags name their layers, and sections.csv covers every station."""
    name = os.path.basename(pddx)
    with open(pddx, encoding="utf-8", errors="replace") as f:
        english = "LoadUnits = pound" in f.read()
    units = "english" if english else "metric"
    work = tempfile.mkdtemp(prefix="basinfit-results-pddx-")
    try:
        with open(os.path.join(work, "structure.csv"), "w") as f:
            f.write(STRUCTURES[units])
        imported = subprocess.run([args.importer, pddx, "--structure", os.path.join(work, "structure.csv"),
                                   "--out", os.path.join(work, "run"), "--quiet"], capture_output=True, text=True)
        check(imported.returncode == 0, f"{name}: import failed: {imported.stderr}")
        if imported.returncode != 0:
            return
        run_folder = os.path.join(work, "run")
        run = subprocess.run([args.engine, "-q", "--keep-control", "--results", "res", "control.txt"], cwd=run_folder,
                             capture_output=True, text=True)
        check(run.returncode == 0, f"{name}: engine exit status {run.returncode}: {run.stderr}")
        res = os.path.join(run_folder, "res")
        _, drops = read_table(os.path.join(res, "drops.csv"), f"{name} drops.csv")
        _, stations = read_table(os.path.join(res, "stations.csv"), f"{name} stations.csv")
        sections_header, sections = read_table(os.path.join(res, "sections.csv"), f"{name} sections.csv")
        check_layer_flags(drops, 3)
        modulus, load, p0 = ("ksi", "lbf", 9000.0) if english else ("MPa", "N", 40000.0)
        for s in stations:
            own = [d for d in drops if d["station_no"] == s["station_no"]]
            loads = [single(d[f"load_{load}"]) for d in own]
            check(s["normalisation"] in ("interpolated", "trend"), f"{name} {s['station']}: {s['normalisation_note']}")
            bracketed = min(loads) <= p0 <= max(loads)
            check((s["normalisation"] == "interpolated") == bracketed, f"{name} {s['station']}: {s['normalisation']}")
            for j in range(1, 4):
                value = s[f"E{j}_norm_{modulus}"]
                check(value is not None and value > 0, f"{name} {s['station']}: E{j} normalised {value}")
                if s["normalisation"] == "trend" and value is not None:
                    expected = power_law_at(loads, [single(d[f"E{j}_{modulus}"]) for d in own], p0)
                    check(abs(value - expected) <= 1e-9 * expected, f"{name} {s['station']}: E{j} {value} vs {expected}")
                for d in own:
                    check(d[f"E{j}_norm_{modulus}"] == value, f"{name} {s['station']}: drops.csv E{j} normalised")
        position = "ft" if english else "m"
        check(sections_header[1:3] == [f"start_{position}", f"end_{position}"], f"{name}: {sections_header}")
        check(sum(x["stations"] for x in sections) == len(stations), f"{name}: sections hold every station")
        check(all(x[f"E3_norm_mean_{modulus}"] is not None for x in sections), f"{name}: a section without a mean")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True)
    parser.add_argument("--examples", required=True)
    parser.add_argument("--schema", required=True)
    parser.add_argument("--importer", help="basinfit-import, to run the PDDX files given with --pddx")
    parser.add_argument("--pddx", nargs="*", default=[], help="PDDX files to import and run")
    args = parser.parse_args()
    args.engine = os.path.abspath(args.engine)
    for pddx in args.pddx:
        check_imported(args, os.path.abspath(pddx))

    work = tempfile.mkdtemp(prefix="basinfit-results-")
    try:
        for name in ("standard.dat", "general.dat", "deflections.dat"):
            shutil.copy(os.path.join(args.examples, name), work)
        with open(os.path.join(work, "control"), "w") as f:
            f.write("9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n")
        run = subprocess.run([args.engine, "-q", "--jobs", "2", "--results", "res", "--multistart", "2", "control"],
                             cwd=work, capture_output=True, text=True)
        check(run.returncode == 0, f"engine exit status {run.returncode}: {run.stderr}")
        res = os.path.join(work, "res")

        drops_header, drops = read_table(os.path.join(res, "drops.csv"), "drops.csv")
        sensors_header, sensors = read_table(os.path.join(res, "sensors.csv"), "sensors.csv")
        stations_header, stations = read_table(os.path.join(res, "stations.csv"), "stations.csv")
        for header in (drops_header, sensors_header, stations_header):
            check(not any(c.endswith(("_ksi", "_mils", "_in", "_lbf")) for c in header), "English units in a metric run")
        check("E1_MPa" in drops_header and "load_N" in drops_header and "measured_um" in sensors_header,
              "metric unit names missing")

        # Stations in survey order, named as in the deflection file without padding.
        with open(os.path.join(work, "deflections.dat")) as f:
            ids = [line.split()[0] for line in f.read().splitlines()[1:] if len(line.split()) == 8]
        check([s["station"] for s in stations] == ids, "station identifiers differ from the deflection file")
        check([s["station_no"] for s in stations] == list(range(1, len(ids) + 1)), "station numbers")
        check(sum(s["drops"] for s in stations) == len(drops), "drops per station do not add up")

        sensor_count = len({s["sensor"] for s in sensors})
        check(len(sensors) == len(drops) * sensor_count, "sensors.csv does not hold one row per drop and sensor")
        by_drop = {}
        for s in sensors:
            by_drop.setdefault((s["station_no"], s["drop"]), []).append(s)
        for d in drops:
            rows = by_drop.get((d["station_no"], d["drop"]), [])
            for r in rows:
                r["measured_um"], r["calculated_um"] = single(r["measured_um"]), single(r["calculated_um"])
            check(len(rows) == sensor_count, f"drop {d['station']}/{d['drop']}: {len(rows)} sensor rows")
            # The report's RMS error: readings below 0.1 are left out of the sum, not the count.
            total = sum(((r["measured_um"] - r["calculated_um"]) / r["measured_um"]) ** 2
                        for r in rows if r["measured_um"] >= 0.1)
            rms = 100.0 * math.sqrt(total / sensor_count)
            check(abs(rms - d["rms_percent"]) <= 1e-4 * max(rms, 1e-3),
                  f"drop {d['station']}/{d['drop']}: rms {d['rms_percent']} but the sensors give {rms}")
            absolute = math.sqrt(sum((r["measured_um"] - r["calculated_um"]) ** 2 for r in rows) / sensor_count)
            check(abs(absolute - d["rms_deflection_um"]) <= 1e-12 * max(absolute, 1e-3),
                  f"absolute RMS {absolute!r} vs {d['rms_deflection_um']!r}")
            for name in (d["flags"] or "").split(";"):
                check(name == "" or name in FLAG_NAMES, f"unknown flag {name!r}")
            check(d["multistart_runs"] == 2, "multistart runs")

        check_layer_flags(drops, 3)
        for d in drops:
            check(d["normalisation"] in ("interpolated", "trend", "none"), f"drop {d['station']}: normalisation")

        # No normalised value is missing without its reason, and none is 0.
        for s in stations:
            for j in range(1, 4):
                value = s[f"E{j}_norm_MPa"]
                check(value is None or value > 0, f"station {s['station']}: E{j}_norm_MPa is {value}")
                check(value is not None or bool(s["normalisation_note"]), f"station {s['station']}: no reason")
            check(bool(s["normalisation_note"]), f"station {s['station']}: normalisation without a note")
            for j in range(2, 4):
                check(s[f"K1_L{j}_MPa"] is not None or bool(s[f"law_note_L{j}"]), f"station {s['station']}: no law, no note")

        # sections.csv: the sections tile the stations, and each layer's mean is the mean of the
        # stations' normalised moduli within its ground (stations named by their chainage in m).
        sections_header, sections = read_table(os.path.join(res, "sections.csv"), "sections.csv")
        check(sections_header[:4] == ["section", "start_m", "end_m", "stations"], f"sections header {sections_header}")
        check(sum(int(x["stations"]) for x in sections) == len(stations), "sections do not hold every station")
        for k, x in enumerate(sections):
            last = k + 1 == len(sections)
            inside = [s for s in stations if x["start_m"] <= float(s["station"]) and
                      (float(s["station"]) <= x["end_m"] if last else float(s["station"]) < x["end_m"])]
            check(len(inside) == x["stations"], f"section {k + 1}: {len(inside)} stations by position")
            for j in range(1, 4):
                values = [s[f"E{j}_norm_MPa"] for s in inside if s[f"E{j}_norm_MPa"] is not None]
                mean = sum(values) / len(values)
                check(abs(mean - x[f"E{j}_norm_mean_MPa"]) <= 1e-5 * mean, f"section {k + 1} E{j} mean")
            if k > 0:
                check(x["start_m"] == sections[k - 1]["end_m"], f"section {k + 1} does not start where {k} ends")

        with open(os.path.join(res, "run.json"), encoding="utf-8") as f:
            record = json.load(f)
        with open(args.schema, encoding="utf-8") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
        errors = list(jsonschema.Draft202012Validator(schema).iter_errors(record))
        for e in errors:
            failures.append(f"run.json: {e.json_path}: {e.message}")
        counts = record["counts"]
        check(counts["drops"] == len(drops) and counts["stations"] == len(stations), "counts of drops and stations")
        for name in FLAG_NAMES:
            listed = sum(1 for d in drops if name in (d["flags"] or "").split(";"))
            check(counts["by_flag"][name] == listed, f"count of {name}: {counts['by_flag'][name]} vs {listed}")
        check(sum(c["drops"] for c in counts["by_convergence_code"].values()) == len(drops), "counts by code")
        check(record["invocation"]["jobs"] == 2, "jobs")
        for entry in record["inputs"] + record["outputs"]:
            path = os.path.join(work, entry["name"])
            check(entry["sha256"] == sha256(path), f"sha256 of {entry['name']}")
            check(entry["size"] == os.path.getsize(path), f"size of {entry['name']}")
        check(len(record["outputs"]) == 7, "outputs: two reports, the log and four tables")
        sectioning = record["options"]["sections"]
        check(sectioning["sections"] == len(sections) and sectioning["layer"] == 3, f"sections record {sectioning}")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
