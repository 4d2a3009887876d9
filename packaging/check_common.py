"""What the package and template checks share: their PASS/FAIL lines and the C headers'
'#define NAME "text"' lines they take every name from."""
import re

failures = 0


def result(name, problems):
    """Prints "PASS name", or "FAIL name: why" and counts it."""
    global failures
    if problems:
        failures += 1
        print("FAIL %s: %s" % (name, "; ".join(problems)))
    else:
        print("PASS %s" % name)


def header_defines(path):
    """'#define NAME "text"' lines of a C header, the C escapes of backslashes undone."""
    defines = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r'\s*#define\s+(\w+)\s+"((?:[^"\\]|\\.)*)"', line)
            if m:
                defines[m.group(1)] = m.group(2).replace("\\\\", "\\")
    return defines
