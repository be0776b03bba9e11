#!/usr/bin/env python3
"""Every option a program accepts is documented on its reference page in docs/: the long option
names of each program's --help must all appear on the page, so an option added to a program and
not to its page fails here.

    options_documented.py SOURCE_DIR PROGRAM_DIR
"""
import os
import re
import subprocess
import sys

source_dir, program_dir = sys.argv[1:3]
pages = {"basinfit": "engine.md", "basinfit-import": "import.md", "basinfit-model": "model.md",
         "basinfit-batch": "batch.md", "basinfit-workbench": "workbench.md"}
# Programs with commands: the options of each command's own help.
commands = {"basinfit-batch": ["run", "merge", "slurm", "report", "export"]}
missing = []
for tool, page in pages.items():
    help_text = "".join(
        subprocess.run([os.path.join(program_dir, tool), *command, "--help"], capture_output=True, text=True,
                       check=True).stdout
        for command in [[]] + [[c] for c in commands.get(tool, [])])
    options = sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", help_text)))
    if len(options) < 2:
        sys.exit(f"options test: no options found in {tool} --help")
    text = open(os.path.join(source_dir, "docs", page), encoding="utf-8").read()
    missing += [f"{tool} {option} (docs/{page})" for option in options
                if not re.search(re.escape(option) + r"(?![\w-])", text)]
if missing:
    sys.exit("options test: options without documentation: " + ", ".join(missing))
print("options test: every option of every program is on its page")
