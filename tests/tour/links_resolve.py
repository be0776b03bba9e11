#!/usr/bin/env python3
"""Every relative link of the README and of the pages in docs/ (the design notes in docs/design/
included) leads to a file or folder that exists, so a page that moves or is split cannot leave a
link behind.  Links to web addresses and to anchors of the same page are not followed; an
anchor after a file name is dropped and the file is checked.

    links_resolve.py SOURCE_DIR
"""
import os
import re
import sys

source_dir = os.path.abspath(sys.argv[1])
pages = [os.path.join(source_dir, "README.md")]
for folder, _, names in os.walk(os.path.join(source_dir, "docs")):
    pages += [os.path.join(folder, name) for name in sorted(names) if name.endswith(".md")]

# [text](target) outside code spans and fenced blocks; the target ends at the first blank or ')'.
link = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
fence = re.compile(r"^```.*?^```", re.M | re.S)
code = re.compile(r"`[^`\n]*`")
broken = []
checked = 0
for page in pages:
    text = code.sub("", fence.sub("", open(page, encoding="utf-8").read()))
    for target in link.findall(text):
        if re.match(r"[a-z][a-z0-9+.-]*:", target) or target.startswith("#"):
            continue
        path = target.split("#", 1)[0]
        checked += 1
        if not os.path.exists(os.path.normpath(os.path.join(os.path.dirname(page), path))):
            broken.append(f"{os.path.relpath(page, source_dir)}: {target}")
if broken:
    sys.exit("links test: links that lead nowhere: " + ", ".join(broken))
print(f"links test: {checked} links in {len(pages)} pages lead to files that exist")
