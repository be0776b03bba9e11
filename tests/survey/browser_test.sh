#!/usr/bin/env bash
# The survey page of the metric example in a real browser (headless chromium, no network):
#   - the page as written logs nothing to the console (no error, no uncaught exception);
#   - its DOM has one station row per station of the deflection data file and one section row
#     per section, the script ran to its end, and sorting by station (twice: descending) then
#     unfolding the first row works (checked by a probe script added to a copy of the page,
#     which also records any error event or console.error into the DOM);
#   - a screenshot is not blank: many distinct colours and the layer colour of the profile;
#   - printing to PDF works on Letter (the browser's default) and on A4, the PDF's text holds the
#     route title, and check_print.py finds what the engineer needs on paper from the PDF's
#     structure: every section heading on the page of its section's start, the modulus profile
#     whole on the first page, the text in the fonts the page names (Liberation, embedded) and no
#     other, so that the print is the same on every machine with those fonts.
# Usage: browser_test.sh BASINFIT SOURCE_DIR
set -euo pipefail
basinfit="$1"
source_dir="$2"
example="$source_dir/examples/metric"

if ! command -v chromium >/dev/null || ! command -v pdftotext >/dev/null || ! command -v convert >/dev/null; then
  "$source_dir/scripts/install-deps"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "browser test: $*" >&2; exit 1; }

cat > control.txt <<CONTROL
9
$example/standard.dat
$example/general.dat
$example/deflections.dat
detail.txt
summary.txt
basinfit.log
CONTROL
"$basinfit" -q --html page.html control.txt || fail "the engine failed"
[ -s page.html ] || fail "no page written"

# Station headers are the records of the deflection file after its route line with eight fields
# (drops have one load and a deflection per sensor).
stations=$(awk 'NR > 1 && NF == 8' "$example/deflections.dat" | wc -l)
[ "$stations" -gt 0 ] || fail "no station header found in the example"

# Without a network namespace, a proxy that leads nowhere keeps the browser off the network.
isolate=()
if unshare -n true 2>/dev/null; then isolate=(unshare -n); fi
browser() {
  local profile
  profile="$(mktemp -d "$work/profile.XXXXXX")"
  "${isolate[@]}" timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --proxy-server=127.0.0.1:9 --proxy-bypass-list='<-loopback>' \
    --user-data-dir="$profile" "$@"
}

# 1. Console: the page exactly as written.
browser --enable-logging=stderr --v=0 --dump-dom "file://$work/page.html" > dom.html 2> console.txt ||
  fail "chromium could not load the page"
if grep -E ':CONSOLE|Uncaught' console.txt; then fail "the page logged to the console"; fi

# 2. DOM, with a probe before the page's own script and one after it.
python3 - "$work/page.html" "$work/probe.html" <<'PY'
import sys
page = open(sys.argv[1], encoding="utf-8").read()
recorder = ('<script>(function(){function note(m){var r=document.documentElement;'
            'r.setAttribute("data-errors",(r.getAttribute("data-errors")||"")+m+"|")}'
            'window.addEventListener("error",function(e){note("error: "+e.message)});'
            'var ce=console.error;console.error=function(){note("console: "+Array.prototype.join.call(arguments," "));'
            'ce.apply(console,arguments)}})();</script>')
probe = ('<script>(function(){var t=document.getElementById("station-table");'
         'var h=t.querySelector("th[data-col=\'1\']");h.click();h.click();var first=t.tBodies[0];'
         'first.querySelector("button.fold").click();document.documentElement.setAttribute("data-probe",'
         'first.rows[0].cells[1].textContent+"|"+(first.rows[1].hidden?"folded":"unfolded"))})();</script>')
assert page.count("<head>") == 1 and page.count("</body>") == 1
open(sys.argv[2], "w", encoding="utf-8").write(page.replace("<head>", "<head>" + recorder).replace("</body>", probe + "</body>"))
PY
browser --dump-dom "file://$work/probe.html" > probe-dom.html 2>/dev/null || fail "chromium could not load the probe"
grep -q 'data-errors=' probe-dom.html && fail "errors in the page: $(grep -o 'data-errors="[^"]*"' probe-dom.html)"
grep -q 'data-script="ready"' probe-dom.html || fail "the page's script did not run to its end"
rows=$(grep -o 'class="station-row"' probe-dom.html | wc -l)
[ "$rows" -eq "$stations" ] || fail "$rows station rows in the DOM, $stations stations in the survey"
section_rows=$(grep -o 'class="section-row"' probe-dom.html | wc -l)
declared=$(grep -o 'id="section-table" data-count="[0-9]*"' probe-dom.html | grep -o '[0-9]*"$' | tr -d '"')
[ "$section_rows" -ge 1 ] || fail "no section rows"
[ "$section_rows" -eq "$declared" ] || fail "$section_rows section rows, the page found $declared sections"
last_station=$(awk 'NR > 1 && NF == 8 {id = $1} END {print id}' "$example/deflections.dat")
probe=$(grep -o 'data-probe="[^"]*"' probe-dom.html)
[ "$probe" = "data-probe=\"$last_station|unfolded\"" ] ||
  fail "sorting by station twice and unfolding gave $probe, expected $last_station first and unfolded"

# 3. Screenshot.
browser --window-size=1280,2000 --screenshot="$work/shot.png" "file://$work/page.html" >/dev/null 2>&1 ||
  fail "no screenshot"
colours=$(convert shot.png -format %k info:)
[ "$colours" -ge 64 ] || fail "the screenshot has only $colours colours"
layer_pixels=$(convert shot.png -format %c histogram:info:- | awk '/#0072B2/ {sum += $1} END {print sum + 0}')
[ "$layer_pixels" -ge 200 ] || fail "the profile is not drawn ($layer_pixels pixels of the first layer colour)"

# 4. Print to PDF, on the browser's default paper (Letter) and on A4.
python3 - "$work/page.html" "$work/page-a4.html" <<'PY'
import sys
page = open(sys.argv[1], encoding="utf-8").read()
assert page.count("</style>") >= 1
open(sys.argv[2], "w", encoding="utf-8").write(page.replace("</style>", "@page{size:A4}</style>", 1))
PY
for paper in letter a4; do
  html="$work/page.html"
  [ "$paper" = a4 ] && html="$work/page-a4.html"
  browser --no-pdf-header-footer --print-to-pdf="$work/page-$paper.pdf" "file://$html" >/dev/null 2>&1 ||
    fail "printing to PDF ($paper) failed"
  [ -s "page-$paper.pdf" ] || fail "no PDF ($paper)"
  python3 "$source_dir/tests/survey/check_print.py" "$html" "page-$paper.pdf" ||
    fail "the page printed on $paper paper does not hold together (above)"
done
route=$(sed -n 1p "$example/deflections.dat" | sed 's/[[:space:]]*$//')
pdftotext page-letter.pdf page.txt
grep -qF "$route" page.txt || fail "the PDF does not hold the route title '$route'"
pages=$(pdfinfo page-letter.pdf | awk '/^Pages:/ {print $2}')

echo "browser test: $rows station rows, $section_rows section rows, $colours colours, $pages printed pages (Letter)"
