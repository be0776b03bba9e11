#!/usr/bin/env bash
# The survey page as the engine writes it, on copies of the metric example:
#   - the reports, the log and the basin charts are byte-identical with and without --html, and a
#     parallel run writes the same page;
#   - a title, a route and a station identifier holding markup characters appear on the page as
#     text, never as markup, and the page is well formed with nothing outside it;
#   - a run that stops on bad input leaves a page that says so and holds only the finished stations;
#   - the page never replaces an input or a report;
#   - every way of choosing the sections gives a valid page; a bad choice is a usage error;
#   - a station table places the stations (read back from the page and from stations.csv),
#     impossible chainages fall back to survey order with the reason, and a malformed table stops
#     the run before anything is touched, naming the file and the line.
# Usage: engine_page_test.sh BASINFIT SOURCE_DIR
set -euo pipefail
basinfit="$1"
source_dir="$2"
check="$source_dir/tests/survey/check_page.py"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "engine page test: $*" >&2; exit 1; }

# control FOLDER [OUTPUT_PREFIX]: a control file for the input set in FOLDER.
control() {
  cat > "$1/control.txt" <<CONTROL
9
$1/standard.dat
$1/general.dat
$1/deflections.dat
$1/detail.txt
$1/summary.txt
$1/basinfit.log
CONTROL
}
copy_example() {
  mkdir -p "$1"
  cp "$source_dir"/examples/metric/*.dat "$1/"
  control "$work/$1"
}

# 1. Nothing specified changes.
copy_example plain
copy_example paged
"$basinfit" -q --plot-dir plain/plots plain/control.txt || fail "plain run failed"
"$basinfit" -q --plot-dir paged/plots --html paged/page.html paged/control.txt || fail "run with --html failed"
for f in detail.txt summary.txt; do
  cmp -s "plain/$f" "paged/$f" || fail "$f differs with --html"
done
# The log's progress lines carry the time of day.
untimed() { sed -E 's/ at [ 0-9]+:[ 0-9]+:[ 0-9]+$//' "$1"; }
[ "$(untimed plain/basinfit.log)" = "$(untimed paged/basinfit.log)" ] || fail "the log differs with --html"
for f in plain/plots/*; do
  cmp -s "$f" "paged/plots/$(basename "$f")" || fail "chart $(basename "$f") differs with --html"
done
for f in profile-moduli.png profile-moduli.svg profile-rms.png profile-rms.svg; do
  [ -s "paged/plots/$f" ] || fail "no profile chart $f"
  [ ! -e "plain/plots/$f" ] || fail "profile chart $f written without --html"
done
# A parallel run collects the same page (the run date aside).
copy_example parallel
"$basinfit" -q -j 3 --html parallel/page.html parallel/control.txt || fail "parallel run with --html failed"
undated() { sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2} UTC//' "$1" | sed "s|$work/[a-z]*/||g"; }
[ "$(undated paged/page.html)" = "$(undated parallel/page.html)" ] || fail "the parallel run's page differs"
# The page shows the digests of the inputs (checked against sha256sum) and the data checks of the
# machine-readable results: as many poorly determined drops as drops.csv of a run with --results.
for f in standard.dat general.dat deflections.dat; do
  digest=$(sha256sum "paged/$f" | cut -d' ' -f1)
  grep -q "$digest" paged/page.html || fail "the page lacks the SHA-256 of $f"
done
copy_example tabled
"$basinfit" -q --results tabled/results --html tabled/page.html tabled/control.txt || fail "run with --results failed"
# A coarse sensor precision, so that the example has poorly determined drops to count.
copy_example coarse
"$basinfit" -q --results coarse/results --sensor-precision 2,2 --html coarse/page.html coarse/control.txt ||
  fail "run with --sensor-precision failed"
flagged=$(tr -d '\r' < coarse/results/drops.csv |
  awk -F, 'NR == 1 {for (i = 1; i <= NF; i++) if ($i == "flags") c = i} NR > 1 && $c ~ /poorly_determined/ {n++} END {print n + 0}')
[ "$flagged" -gt 0 ] || fail "the example should have poorly determined drops"
grep -q "<td>poorly_determined</td><td>$flagged</td>" coarse/page.html ||
  fail "the page does not count the $flagged poorly determined drops of drops.csv"
[ "$(undated paged/page.html)" = "$(undated tabled/page.html)" ] || fail "--results changes the page"
python3 "$check" paged/page.html --stations 12 --complete --text "Route 12 eastbound lane, outer wheel path" ||
  fail "the example page is not valid"

# 2. Markup characters from the input files are text.
copy_example hostile
title='<script>alert("title")</script> & '"'"'Co'"'"''
route='Route <b>12</b> & "east"'
station='<i>&"'"'"'9'
# (sed would read '&' in a replacement as the match; python takes the text as it is.)
python3 - hostile "$title" "$route" "$station" <<'PY'
import sys
folder, title, route, station = sys.argv[1:]
lines = open(folder + "/general.dat").read().split("\n")
lines[0] = title
open(folder + "/general.dat", "w").write("\n".join(lines))
lines = open(folder + "/deflections.dat").read().split("\n")
lines[0] = route
lines[1] = lines[1].replace("1000 4 ", station + " 4 ", 1)
open(folder + "/deflections.dat", "w").write("\n".join(lines))
PY
grep -qF "$station 4" hostile/deflections.dat || fail "the hostile station was not set up"
"$basinfit" -q --html hostile/page.html hostile/control.txt || fail "run with markup in the inputs failed"
python3 "$check" hostile/page.html --stations 12 --complete --text "$title" --text "$route" --text "$station" ||
  fail "markup from the inputs is not plain text on the page"

# 3. A run stopped by bad input: the page says so and holds the stations finished before.
copy_example broken
# The first drop of the fourth station gets a load that is not a number.
line=$(awk 'NR > 1 && NF == 8 {n++} n == 4 {print NR + 1; exit}' broken/deflections.dat)
sed -i "${line}s|^[0-9]*|4x000|" broken/deflections.dat
status=0
"$basinfit" -q --html broken/page.html broken/control.txt 2> broken/stderr.txt || status=$?
[ "$status" -eq 1 ] || fail "bad input gave exit status $status, expected 1"
python3 "$check" broken/page.html --stopped --stations 3 --text "exit status 1" --text "deflections.dat, line $line" ||
  fail "the page of a stopped run does not say so"

# 4. The page never replaces an input or a report.
copy_example kept
cp kept/general.dat kept/general.orig
for target in kept/general.dat kept/detail.txt; do
  status=0
  "$basinfit" -q --html "$target" kept/control.txt 2> kept/stderr.txt || status=$?
  control "$work/kept"
  [ "$status" -eq 2 ] || fail "--html $target gave exit status $status, expected 2"
  grep -q "survey page" kept/stderr.txt || fail "no message about the survey page: $(cat kept/stderr.txt)"
done
cmp -s kept/general.dat kept/general.orig || fail "the general data file was changed"
# A page that cannot be opened stops the run before anything is written.
copy_example unopened
status=0
"$basinfit" -q --html unopened/missing/page.html unopened/control.txt 2> unopened/stderr.txt || status=$?
[ "$status" -eq 2 ] || fail "--html in a missing folder gave exit status $status, expected 2"
grep -q "unopened/missing/page.html" unopened/stderr.txt || fail "the message does not name the page: $(cat unopened/stderr.txt)"
[ ! -e unopened/summary.txt ] || fail "a report was written although the page cannot be"
[ -e unopened/control.txt ] || fail "the control file was consumed although the run never started"
# A run that fails before its files are open leaves no page.
status=0
"$basinfit" -q --html unopened/never.html unopened/no-such-control.txt 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "a missing control file gave exit status $status, expected 2"
[ ! -e unopened/never.html ] || fail "a page was left by a run that never started"

# 5. Section choices.
copy_example choices
for option in "--sections-by 1" "--sections-by 2" "--sections-by deflection" "--min-section-length 200"; do
  # shellcheck disable=SC2086
  "$basinfit" -q --html choices/page.html $option choices/control.txt || fail "$option failed"
  control "$work/choices"
  python3 "$check" choices/page.html --stations 12 --complete >/dev/null || fail "page with $option is not valid"
done
status=0
"$basinfit" -q --html choices/page.html --sections-by surface choices/control.txt 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "--sections-by surface gave exit status $status, expected 2"

# 6. The station table.
copy_example table
ids=$(awk 'NR > 1 && NF == 8 {print $1}' table/deflections.dat)
{
  echo "station,chainage,chainage_unit,lane,latitude,longitude,comment"
  k=0
  for id in $ids; do
    echo "$id,$(awk -v k=$k 'BEGIN {printf "%.2f", 7.6 + 25 * k}'),m,'-L1,51.5,-0.1$k,\"cracked, '=cmd'\""
    k=$((k + 1))
  done
} > table/station-table.csv
expected=$(awk 'NR > 1 {split($0, f, ","); printf "%s%s", sep, f[2]; sep = ","}' table/station-table.csv)
"$basinfit" -q --station-table table/station-table.csv --results table/results --html table/page.html \
  table/control.txt || fail "run with a station table failed"
python3 "$check" table/page.html --stations 12 --positions "$expected" --source station-table \
  --flags-name-layers --text=-L1 --text "cracked, '=cmd'" >/dev/null ||
  fail "the page does not place the stations at the table's chainages"
python3 - table/results/stations.csv "$expected" <<'PY2' || fail "stations.csv does not hold the table's chainages"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
assert [float(r["chainage_m"]) for r in rows] == [float(v) for v in sys.argv[2].split(",")], rows[0]
assert all(r["lane"].lstrip("'") == "-L1" and r["latitude"] == "51.5" for r in rows), rows[0]
PY2
grep -q '"station_table": ".*station-table.csv"' table/results/run.json || fail "run.json does not record the station table"
# Chainages no survey can have: drawn in survey order, with the reason.
control "$work/table"
sed -i '13s/,[0-9.]*,m,/,2000000,m,/' table/station-table.csv
"$basinfit" -q --station-table table/station-table.csv --html table/page.html table/control.txt ||
  fail "run with an impossible station table failed"
python3 "$check" table/page.html --source survey-order >/dev/null || fail "impossible chainages were drawn"
grep -q "cannot be right" table/page.html || fail "the page does not say why the chainages are not used"
# A malformed table stops the run before anything is touched.
control "$work/table"
cp table/summary.txt table/summary.orig
sed -i '4s/,[0-9.]*,m,/,12 m,m,/' table/station-table.csv
status=0
"$basinfit" -q --station-table table/station-table.csv --html table/page.html table/control.txt 2> table/stderr.txt ||
  status=$?
[ "$status" -eq 1 ] || fail "a malformed station table gave exit status $status, expected 1"
grep -q "station-table.csv, line 4" table/stderr.txt || fail "the message does not name file and line: $(cat table/stderr.txt)"
[ -e table/control.txt ] || fail "the control file was consumed although the table is malformed"
cmp -s table/summary.txt table/summary.orig || fail "a report was touched although the table is malformed"

# 7. The page of a survey with flags, a station carried to the standard load by its trend, one
# whose loads lie too far from it, one with a single drop, lanes, GPS positions and comments is
# the page kept in expected/, written when every station was still held in memory until the end
# (the run date and the version aside).
mkdir -p golden
cp "$source_dir"/examples/metric/*.dat golden/
python3 - golden <<'PY'
import sys
folder = sys.argv[1]
lines = [l for l in open(folder + "/deflections.dat").read().split("\n") if l.strip()]
out, ids, k = [lines[0]], [], 1
while k < len(lines):
    head = lines[k].split()
    drops = lines[k + 1:k + 1 + int(head[1])]
    k += 1 + int(head[1])
    if head[0] == "1050":  # loads above the standard load, the nearest within reach: a trend
        drops = [d.replace("40000", "42000", 1) for d in drops[1:]]
    elif head[0] == "1100":  # a single drop
        drops = drops[1:2]
    elif head[0] == "1200":  # loads too far above the standard load
        drops = drops[2:]
    out += [" ".join([head[0], str(len(drops))] + head[2:])] + drops
    ids.append(head[0])
open(folder + "/deflections.dat", "w").write("\n".join(out) + "\n")
with open(folder + "/station-table.csv", "w") as t:
    t.write("station,chainage,chainage_unit,lane,latitude,longitude,comment\n")
    for i, s in enumerate(ids):
        comment = "\"patched, <wet>\"" if i % 4 == 1 else ""
        t.write("%s,%.2f,m,L%d,51.5,-0.1%d,%s\n" % (s, 1000 + 50 * i, 1 + i % 2, i, comment))
PY
printf '9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n' > golden/control.txt
(cd golden && "$basinfit" -q -j 2 --station-table station-table.csv --results results --sensor-precision 2,2 \
  --html page.html control.txt) || fail "the run of the expected page failed"
sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2} UTC/RUN DATE/; s/basinfit [0-9.]+ \([^)]*\)/basinfit VERSION/g' \
  golden/page.html | cmp -s - "$source_dir/tests/survey/expected/survey-page.html" ||
  fail "the page differs from expected/survey-page.html"

# 8. The stations wait for the page in a file that is never seen beside it: nothing is left after
# a run that fails, one that is interrupted, or one that is killed.
# leftovers FOLDER: the files of FOLDER that are neither inputs nor the run's outputs.
leftovers() {
  ls -A "$1" | grep -vxE '(standard|general|deflections)\.dat|control\.txt|detail\.txt|summary\.txt|basinfit\.log|page\.html|stderr\.txt' || true
}
copy_example long
python3 - long <<'PY'
import sys
folder = sys.argv[1]
lines = [l for l in open(folder + "/deflections.dat").read().split("\n") if l.strip()]
with open(folder + "/deflections.dat", "w") as out:
    out.write(lines[0] + "\n")
    for r in range(300):
        k = 1
        while k < len(lines):
            head = lines[k].split()
            out.write(" ".join([str(int(head[0]) + 1000 * r)] + head[1:]) + "\n")
            out.write("\n".join(lines[k + 1:k + 1 + int(head[1])]) + "\n")
            k += 1 + int(head[1])
PY
"$basinfit" -q -j 2 --html long/page.html long/control.txt &
engine=$!
sleep 2
kill -KILL "$engine" 2>/dev/null || true
wait "$engine" 2>/dev/null || true
[ -z "$(leftovers long)" ] || fail "a killed run left $(leftovers long)"
control "$work/long"
"$basinfit" -q -j 2 --html long/page.html long/control.txt &
engine=$!
sleep 2
kill -INT "$engine" 2>/dev/null || true
wait "$engine" || true
[ -z "$(leftovers long)" ] || fail "an interrupted run left $(leftovers long)"
[ -z "$(leftovers broken)" ] || fail "a run stopped by bad input left $(leftovers broken)"

echo "engine page test: passed"
