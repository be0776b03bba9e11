#!/usr/bin/env python3
"""Runs the README's five-minute tour as a reader would: every ```sh block with bash and every
```python block with python3, in order, from one folder that holds the examples, with the
build's programs first on the PATH.  Each block must succeed, and every out/... file or folder
that the tour's text names must exist afterwards, so the tour cannot promise a file that the
commands do not write.

    tour_test.py README.md SOURCE_DIR PROGRAM_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

readme, source_dir, program_dir = (os.path.abspath(arg) for arg in sys.argv[1:4])
text = open(readme, encoding="utf-8").read()

tour = re.search(r"^## [^\n]*tour[^\n]*\n(.*?)(?=^## |\Z)", text, re.M | re.S | re.I)
if not tour:
    sys.exit("tour test: README.md has no section headed '## ... tour'")
section = tour.group(1)
block = re.compile(r"^```(sh|python)\n(.*?)^```", re.M | re.S)
tasks = re.split(r"^### ", section, flags=re.M)[1:]
if len(tasks) < 4 or any(not block.search(task) for task in tasks):
    sys.exit(f"tour test: expected at least four tasks (### headings), each with its commands")
blocks = block.findall(section)

work = tempfile.mkdtemp(prefix="basinfit-tour-")
try:
    os.symlink(os.path.join(source_dir, "examples"), os.path.join(work, "examples"))
    env = {
        "PATH": program_dir + ":/usr/bin:/bin",
        "HOME": work,
        "LANG": "C.UTF-8",
    }
    for number, (kind, code) in enumerate(blocks, 1):
        command = ["bash", "-euo", "pipefail", "-c", code] if kind == "sh" else ["python3", "-c", code]
        run = subprocess.run(command, cwd=work, env=env, capture_output=True, text=True, timeout=600)
        print(f"--- block {number} ({kind}) exit {run.returncode}\n{code}{run.stdout}{run.stderr}")
        if run.returncode != 0:
            sys.exit(f"tour test: block {number} failed with exit status {run.returncode}")
    named = sorted(set(re.findall(r"(?<![\w/])out/[\w./-]*[\w/]", section)))
    missing = [path for path in named if not os.path.exists(os.path.join(work, path))]
    if missing:
        sys.exit("tour test: the tour names files its commands did not write: " + ", ".join(missing))
    print(f"tour test: {len(blocks)} blocks ran; {len(named)} named outputs exist")
finally:
    shutil.rmtree(work, ignore_errors=True)
