#!/usr/bin/env python3
"""Fails when a client folder includes a header from a folder above it, or the server includes
anything of the client's but the portable core: each folder is one library, and a library calls
only the ones below it (res, core, net, settings, catalogue, app)."""
import re
import subprocess
import sys
from pathlib import Path

LAYERS = ["res", "core", "net", "settings", "catalogue", "app"]
RANK = {name: i for i, name in enumerate(LAYERS)}
INCLUDE = re.compile(r'#include "([^/"]+)/')

root = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
names = subprocess.run(["git", "-C", str(root), "ls-files", "*.cpp", "*.h"],
                       capture_output=True, text=True, check=True).stdout.split()
wrong = 0
for name in names:
    top = name.split("/")[0]
    if top not in RANK and top != "server":
        continue
    text = (root / name).read_text(encoding="utf-8", errors="replace")
    for number, line in enumerate(text.splitlines(), 1):
        m = INCLUDE.match(line)
        if not m or m.group(1) not in RANK:
            continue
        used = m.group(1)
        if (top == "server" and used not in ("core", "res")) or \
           (top != "server" and RANK[used] > RANK[top]):
            print(f"{name}:{number}: {top} must not include {line.strip()[9:]}")
            wrong += 1
print(f"{wrong} includes against the layers")
sys.exit(1 if wrong else 0)
