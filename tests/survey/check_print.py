#!/usr/bin/env python3
"""Checks a survey page printed to PDF by what the engineer needs from the paper.

Usage: check_print.py PAGE.html PAGE.pdf

Read from the PDF's structure (pdftotext -bbox-layout: every line of text with its page and box;
pdffonts: the fonts the PDF carries), never from a count of lines of text:
  - every section heading of the page (its h2 elements, in order) is in the PDF, set larger than
    the text around it, and its page goes on below it: no heading is left alone at the foot of a
    page with its section starting on the next;
  - the modulus profile is on the first page: the heading "Profiles along the route" and, below
    it, every label of the chart (legend, band labels, ticks, both axis titles) are on page 1;
  - the text is set in the fonts the page names and nothing else: every font is embedded, and
    each is the first choice of a font-family of the page's style sheet (Liberation Sans,
    Liberation Mono) in any weight or style; a glyph those fonts lack, or a font missing from
    the machine, would bring in some other font and show here.
Exit status 0 when every check passes; otherwise each failure is printed and the status is 1.
"""
import re
import statistics
import subprocess
import sys
import xml.etree.ElementTree as ET
from html.parser import HTMLParser

XHTML = "{http://www.w3.org/1999/xhtml}"
PROFILE_HEADING = "Profiles along the route"
VOID = {"meta", "br", "hr", "input", "wbr", "col", "area", "source", "track", "param", "img", "link", "base", "embed"}


def words(text):
    return " ".join(text.split())


class PageText(HTMLParser):
    """The h2 headings, the texts of the modulus chart (svg#profile-moduli) and the style sheets,
    as written."""

    def __init__(self):
        super().__init__()
        self.headings, self.chart_texts, self.style = [], [], ""
        self.stack, self.text = [], None

    def handle_starttag(self, tag, attrs):
        if tag in VOID:
            return
        attrs = dict(attrs)
        in_chart = bool(self.stack) and self.stack[-1][1] or (tag == "svg" and attrs.get("id") == "profile-moduli")
        self.stack.append((tag, in_chart))
        if tag in ("h2", "style") or (tag == "text" and in_chart):
            self.text = ""

    def handle_endtag(self, tag):
        if not self.stack:
            return
        name, in_chart = self.stack.pop()
        if self.text is not None and name == "style":
            self.style += self.text
            self.text = None
        elif self.text is not None and name == "h2":
            self.headings.append(words(self.text))
            self.text = None
        elif self.text is not None and name == "text" and in_chart:
            if words(self.text):
                self.chart_texts.append(words(self.text))
            self.text = None

    def handle_data(self, data):
        if self.text is not None:
            self.text += data


def named_fonts(style):
    """The first choice of every font-family of a style sheet, as PDF font names spell it."""
    names = set()
    for value in re.findall(r"font-family:([^;}]+)", style):
        first = value.split(",")[0].strip().strip("'\"")
        if first and first not in ("inherit", "initial", "unset"):
            names.add(first.replace(" ", ""))
    return names


def pdf_lines(pdf):
    """[(page, text, yMin, yMax)] in the order pdftotext reads them."""
    xml = subprocess.run(["pdftotext", "-bbox-layout", pdf, "-"], check=True, capture_output=True).stdout
    lines = []
    for number, page in enumerate(ET.fromstring(xml).iter(XHTML + "page"), start=1):
        for line in page.iter(XHTML + "line"):
            text = words(" ".join(w.text or "" for w in line.iter(XHTML + "word")))
            if text:
                lines.append((number, text, float(line.get("yMin")), float(line.get("yMax"))))
    return lines


def pdf_fonts(pdf):
    """[(name, embedded)] from pdffonts."""
    out = subprocess.run(["pdffonts", pdf], check=True, capture_output=True, text=True).stdout.splitlines()
    fonts = []
    for row in out[2:]:
        fields = row.split()
        # name type... encoding emb sub uni object ID: emb is the fifth field from the end.
        if len(fields) >= 6:
            fonts.append((fields[0], fields[-5] == "yes"))
    return fonts


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    page = PageText()
    page.feed(open(sys.argv[1], encoding="utf-8").read())
    lines = pdf_lines(sys.argv[2])
    failures = []
    if not lines:
        failures.append("the PDF holds no text")
    if not page.headings or not page.chart_texts:
        failures.append("the page has no section headings or no modulus chart")

    # Headings: larger than the document's usual line, found in order.
    body_height = statistics.median(y1 - y0 for _, _, y0, y1 in lines) if lines else 0
    heading_at = {}
    start = 0
    for heading in page.headings:
        found = next((k for k in range(start, len(lines))
                      if lines[k][1] == heading and lines[k][3] - lines[k][2] > 1.2 * body_height), None)
        if found is None:
            failures.append(f"the heading '{heading}' is not in the PDF (set larger than the text)")
            continue
        start = found + 1
        number, _, _, bottom = lines[found]
        heading_at[heading] = (number, bottom)
        # Below it on its page, whatever order pdftotext reads the page's text in.
        if not any(n == number and y0 >= bottom - 0.5 for n, _, y0, _ in lines):
            failures.append(f"the heading '{heading}' ends page {number}: its section starts on the next page")

    # The modulus profile on page 1, below its heading.
    if PROFILE_HEADING not in heading_at:
        failures.append(f"no heading '{PROFILE_HEADING}'")
    else:
        number, bottom = heading_at[PROFILE_HEADING]
        if number != 1:
            failures.append(f"the modulus profile is on page {number}, not on the first page")
        else:
            on_page_one = {text for n, text, y0, _ in lines if n == 1 and y0 >= bottom}
            missing = sorted(set(page.chart_texts) - on_page_one)
            if missing:
                failures.append("labels of the modulus profile are not on the first page: " + ", ".join(missing))

    # Fonts.
    families = named_fonts(page.style)
    fonts = pdf_fonts(sys.argv[2])
    if not families:
        failures.append("the page's style sheet names no font")
    if not fonts:
        failures.append("the PDF carries no fonts")
    for name, embedded in fonts:
        family = re.sub(r"^[A-Z]{6}\+", "", name).split("-")[0]
        if not embedded:
            failures.append(f"the font {name} is not embedded")
        if family not in families:
            failures.append(f"the font {name} is none of the page's fonts ({', '.join(sorted(families))})")

    for failure in failures:
        print("check_print:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
