#!/usr/bin/env python3
"""Checks a survey page as a strict reader would.

Every element is closed in order; only the elements the page writer uses appear (text from
input files that looked like markup would show up as an element here); every coordinate of a chart
is a finite number; nothing refers to anything outside the file (no src or href except to a fragment, no url() or @import in
styles, no link, img, iframe, object, embed or base element); exactly one inline script.

Options:
  --stations N      the page has N station rows
  --sections N      the page has N section rows (and says so in its section table)
  --complete        the page carries no notice that the run stopped
  --stopped         the page carries that notice
  --text STRING     STRING appears as text (may repeat)
  --drops N         the stations' drop data (the JSON the script draws from) hold N drops in all
  --basin A,B,...   every drop's calculated basin is exactly these deflections
  --positions A,B,...  the station rows lie at exactly these positions along the route
  --within LOW,HIGH    every station position lies within LOW..HIGH
  --source NAME        the positions come from NAME (station-table, identifiers, survey-order)
  --flags-name-layers  every flag of a layer (poorly_determined, not_separable, modulus_at_bound)
                       in the station table names its layer(s)
Always: no cell shows a bare dash; every empty cell of a missing value carries its reason; the
section rows tile the route without gaps and hold every station position.
Exit status 0 when every check passes; otherwise each failure is printed.
"""
import argparse
import json
import math
import re
import sys
from html.parser import HTMLParser

VOID = {"meta", "br", "hr", "input", "wbr", "col", "area", "source", "track", "param", "img", "link", "base", "embed"}
ALLOWED = {
    "html", "head", "meta", "title", "style", "noscript", "body", "header", "footer", "section", "h1", "h2",
    "p", "strong", "dl", "dt", "dd", "table", "caption", "thead", "tbody", "tr", "th", "td", "span", "div",
    "button", "script", "svg", "g", "rect", "line", "polyline", "path", "circle", "text",
}
FORBIDDEN_ATTRIBUTES = {"src", "href", "xlink:href", "action", "formaction", "data", "poster", "srcset",
                        "background", "ping"}
SHAPES = {"svg", "rect", "line", "polyline", "circle", "text"}
GEOMETRY = {"x", "y", "x1", "x2", "y1", "y2", "cx", "cy", "r", "width", "height"}


def finite_number(text):
    try:
        return math.isfinite(float(text))
    except (TypeError, ValueError):
        return False


OUTSIDE = re.compile(r"url\s*\(|@import|https?:|file:|//", re.IGNORECASE)


class PageChecker(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.errors = []
        self.text = []
        self.scripts = 0
        self.station_rows = 0
        self.section_rows = 0
        self.section_count_attribute = None
        self.stopped_notice = False
        self.in_style = False
        self.in_script = False
        self.in_data = False
        self.drop_data = []
        self.positions = []
        self.sections = []
        self.position_source = None
        self.cells = []  # (text, attributes, line) of every td
        self.flag_texts = []
        self.in_cell = None
        self.in_flag = None

    def where(self):
        line, column = self.getpos()
        return f"line {line}, column {column}"

    def check_element(self, tag, attrs, closed_inline):
        if tag not in ALLOWED:
            self.errors.append(f"{self.where()}: element <{tag}> is not one the page writer uses")
        for name, value in attrs:
            if name in FORBIDDEN_ATTRIBUTES and not (value or "").startswith("#"):
                self.errors.append(f"{self.where()}: <{tag} {name}=...> refers outside the page")
            if name == "style" and value and OUTSIDE.search(value):
                self.errors.append(f"{self.where()}: a style attribute refers outside the page")
            if name.startswith("on"):
                self.errors.append(f"{self.where()}: event attribute {name} on <{tag}>")
        if tag in SHAPES:
            for name, value in attrs:
                numbers = None
                if name in GEOMETRY:
                    numbers = [value]
                elif name in ("points", "viewBox"):
                    numbers = (value or "").replace(",", " ").split()
                if numbers is not None and not all(finite_number(v) for v in numbers):
                    self.errors.append(f"{self.where()}: <{tag} {name}=\"{value}\"> is not a finite number")
        classes = (dict(attrs).get("class") or "").split()
        if tag == "tr" and "station-row" in classes:
            self.station_rows += 1
        if tag == "tr" and "section-row" in classes:
            self.section_rows += 1
        if tag == "table" and dict(attrs).get("id") == "section-table":
            self.section_count_attribute = int(dict(attrs).get("data-count", "-1"))
        a = dict(attrs)
        if tag == "tr" and "station-row" in classes and "data-position" in a:
            self.positions.append(float(a["data-position"]))
        if tag == "tr" and "section-row" in classes and "data-start" in a:
            self.sections.append((float(a["data-start"]), float(a["data-end"])))
        if a.get("id") == "positions":
            self.position_source = a.get("data-source")
        if tag == "td":
            self.in_cell = ["", a, self.where()]
            self.cells.append(self.in_cell)
        if tag == "span" and "flag" in classes:
            self.in_flag = [""]
            self.flag_texts.append(self.in_flag)
        if dict(attrs).get("id") == "run-stopped":
            self.stopped_notice = True
        if tag == "script":
            self.scripts += 1
        if tag == "meta" and any(n == "http-equiv" for n, _ in attrs):
            self.errors.append(f"{self.where()}: <meta http-equiv> is not allowed")

    def handle_starttag(self, tag, attrs):
        self.check_element(tag, attrs, False)
        if tag not in VOID:
            self.stack.append((tag, self.where()))
        self.in_style = tag == "style"
        self.in_script = tag == "script"
        self.in_data = "drop-data" in (dict(attrs).get("class") or "").split()
        if self.in_data:
            self.drop_data.append("")

    def handle_startendtag(self, tag, attrs):
        self.check_element(tag, attrs, True)

    def handle_endtag(self, tag):
        self.in_style = False
        self.in_script = False
        self.in_data = False
        if tag == "td":
            self.in_cell = None
        if tag == "span":
            self.in_flag = None
        if not self.stack:
            self.errors.append(f"{self.where()}: </{tag}> closes nothing")
            return
        open_tag, opened = self.stack.pop()
        if open_tag != tag:
            self.errors.append(f"{self.where()}: </{tag}> closes <{open_tag}> opened at {opened}")

    def handle_data(self, data):
        if self.in_style and OUTSIDE.search(data):
            self.errors.append(f"{self.where()}: the style sheet refers outside the page")
        if self.in_script and re.search(r"fetch\s*\(|XMLHttpRequest|import\s*\(|https?:|WebSocket|\.src\s*=",
                                        data):
            self.errors.append(f"{self.where()}: the script reaches outside the page")
        if self.in_cell is not None:
            self.in_cell[0] += data
        if self.in_flag is not None:
            self.in_flag[0] += data
        if self.in_data:
            self.drop_data[-1] += data
        elif not self.in_script and not self.in_style:
            self.text.append(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("page")
    parser.add_argument("--stations", type=int)
    parser.add_argument("--sections", type=int)
    parser.add_argument("--complete", action="store_true")
    parser.add_argument("--stopped", action="store_true")
    parser.add_argument("--text", action="append", default=[])
    parser.add_argument("--drops", type=int)
    parser.add_argument("--basin")
    parser.add_argument("--positions")
    parser.add_argument("--within")
    parser.add_argument("--source")
    parser.add_argument("--flags-name-layers", action="store_true")
    args = parser.parse_args()

    with open(args.page, encoding="utf-8") as f:
        source = f.read()
    checker = PageChecker()
    checker.feed(source)
    checker.close()
    errors = checker.errors
    for tag, opened in checker.stack:
        errors.append(f"<{tag}> opened at {opened} is never closed")
    if not source.startswith("<!DOCTYPE html>"):
        errors.append("the page does not start with <!DOCTYPE html>")
    if checker.scripts != 1:
        errors.append(f"{checker.scripts} script elements, expected exactly one")
    if args.stations is not None and checker.station_rows != args.stations:
        errors.append(f"{checker.station_rows} station rows, expected {args.stations}")
    if checker.section_count_attribute is not None and checker.section_count_attribute != checker.section_rows:
        errors.append(f"the section table says {checker.section_count_attribute} sections but has "
                      f"{checker.section_rows} rows")
    if args.sections is not None and checker.section_rows != args.sections:
        errors.append(f"{checker.section_rows} section rows, expected {args.sections}")
    if args.complete and checker.stopped_notice:
        errors.append("the page says the run stopped")
    if args.stopped and not checker.stopped_notice:
        errors.append("the page does not say that the run stopped")
    drops = []
    for k, data in enumerate(checker.drop_data):
        try:
            offsets, station_drops = json.loads(data)
            for d in station_drops:
                number, load, moduli, adjusted, rms, convergence, flags, measured, calculated = d
                if offsets is not None and not (len(measured) == len(calculated) == len(offsets)):
                    errors.append(f"drop data of station {k + 1}: sensors differ in number")
                drops.append(d)
        except (ValueError, TypeError) as e:
            errors.append(f"drop data of station {k + 1} do not read: {e}")
    if args.drops is not None and len(drops) != args.drops:
        errors.append(f"{len(drops)} drops in the drop data, expected {args.drops}")
    if args.basin is not None:
        expected = [float(v) for v in args.basin.split(",")]
        for d in drops:
            if d[8] != expected:
                errors.append(f"drop {d[0]}: calculated basin {d[8]}, expected {expected}")
                break
    for text, attributes, where in checker.cells:
        if text.strip() in ("\u2014", "-", "\u2013"):
            errors.append(f"{where}: a cell shows a bare dash")
        if "missing" in (attributes.get("class") or "").split() and not attributes.get("data-reason"):
            errors.append(f"{where}: an empty cell without its reason")
    if args.flags_name_layers:
        for (text,) in checker.flag_texts:
            if text.split(" ")[0] in ("poorly_determined", "not_separable", "modulus_at_bound") and "(layer" not in text:
                errors.append(f"the flag {text!r} names no layer")
    if args.positions is not None:
        expected = [float(v) for v in args.positions.split(",")]
        if len(expected) != len(checker.positions) or any(
                abs(a - b) > 1e-6 * max(1, abs(b)) for a, b in zip(checker.positions, expected)):
            errors.append(f"positions {checker.positions}, expected {expected}")
    if args.within is not None:
        low, high = (float(v) for v in args.within.split(","))
        outside = [p for p in checker.positions if not low <= p <= high]
        if outside:
            errors.append(f"positions outside {low}..{high}: {outside[:5]}")
    if args.source is not None and checker.position_source != args.source:
        errors.append(f"positions from {checker.position_source}, expected {args.source}")
    if checker.sections:
        for (s1, e1), (s2, e2) in zip(checker.sections, checker.sections[1:]):
            if abs(e1 - s2) > 1e-6 * max(1, abs(e1)):
                errors.append(f"sections do not tile the route: one ends at {e1}, the next starts at {s2}")
        first, last = checker.sections[0][0], checker.sections[-1][1]
        for p in checker.positions:
            if not min(first, last) - 1e-6 <= p <= max(first, last) + 1e-6:
                errors.append(f"station position {p} lies outside the sections {first}..{last}")
                break
    text = "".join(checker.text)
    for expected in args.text:
        if expected not in text:
            errors.append(f"the text {expected!r} does not appear as text")
    for e in errors:
        print(f"{args.page}: {e}", file=sys.stderr)
    if not errors:
        print(f"{args.page}: {checker.station_rows} station rows, {checker.section_rows} section rows, valid")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
