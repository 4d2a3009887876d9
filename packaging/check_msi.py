#!/usr/bin/env python3
"""Checks the tables of a built pavoset.msi (read with msiinfo) against the names it is built from.

Usage: check_msi.py MSI x86|x64 [VERSION] [REPOSITORY]. VERSION defaults to the project VERSION
of CMakeLists.txt. Prints "PASS name" / "FAIL name: why" lines; exits 1 on a failure.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_common  # noqa: E402
from check_common import header_defines, result  # noqa: E402

PROPERTIES = {  # public property: the SETTING_ define whose value it writes
    "SERVER": "SETTING_IP",
    "PORT": "SETTING_PORT",
    "PUBLISHERKEY": "SETTING_PUBLISHER_KEY",
    "LIBRARYURL": "SETTING_LIBRARY_URL",
    "AUTOINSTALL": "SETTING_AUTO_INSTALL",
}
HKLM = "2"


def table(msi, name):
    """The rows of a table as dictionaries (msiinfo export: names, types, key line, rows)."""
    out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, check=False)
    lines = out.stdout.decode("utf-8", "replace").replace("\r", "").split("\n")
    if out.returncode != 0 or len(lines) < 3:
        return []
    columns = lines[0].split("\t")
    return [dict(zip(columns, row.split("\t"))) for row in lines[3:] if row]


def main():
    msi, arch = sys.argv[1], sys.argv[2]
    root = sys.argv[4] if len(sys.argv) > 4 else os.path.join(os.path.dirname(__file__), "..")
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
        project_version = re.search(r"project\(Pavoset VERSION ([0-9.]+)", f.read()).group(1)
    version = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else project_version
    with open(os.path.join(root, "packaging", "pavoset.wxs"), encoding="utf-8") as f:
        upgrade_code = "{%s}" % re.search(r'UpgradeCode="([0-9A-F-]{36})"', f.read()).group(1)
    settings = header_defines(os.path.join(root, "settings", "registry_store.h"))
    texts = header_defines(os.path.join(root, "res", "texts.h"))
    key = settings["SETTINGS_KEY"]

    problems = []
    props = {r["Property"]: r.get("Value", "") for r in table(msi, "Property")}
    if props.get("ProductVersion") != version:
        problems.append("ProductVersion %s, not %s" % (props.get("ProductVersion"), version))
    if props.get("UpgradeCode") != upgrade_code:
        problems.append("UpgradeCode %s, not %s" % (props.get("UpgradeCode"), upgrade_code))
    if props.get("ProductName") != texts["TEXT_PROGRAM_NAME"]:
        problems.append("ProductName %r" % props.get("ProductName"))
    if props.get("ALLUSERS") != "1":
        problems.append("not per machine (ALLUSERS %r)" % props.get("ALLUSERS"))
    secure = set(props.get("SecureCustomProperties", "").split(";"))
    for p in sorted(set(PROPERTIES) - secure):
        problems.append("%s is not a secure property" % p)
    for p in PROPERTIES:
        if p in props:
            problems.append("%s has a default (%r): a package without it would write it" % (p, props[p]))
    summary = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout
    platform = {"x86": "Intel", "x64": "x64"}[arch]
    if not re.search(r"^Template: %s;" % platform, summary, re.M):
        problems.append("summary template is not %s" % platform)
    result("package: version, upgrade code, name, per machine, platform, properties", problems)

    problems = []
    upgrades = [r for r in table(msi, "Upgrade") if r["UpgradeCode"] == upgrade_code]
    older = [r for r in upgrades if r.get("VersionMax") == version and r.get("ActionProperty")]
    newer = [r for r in upgrades if r.get("VersionMin") == version and r.get("ActionProperty")]
    if not older:
        problems.append("no Upgrade row finding older versions")
    if not newer:
        problems.append("no Upgrade row refusing newer versions")
    sequence = {r["Action"]: r for r in table(msi, "InstallExecuteSequence")}

    def at(action):
        return int(sequence[action]["Sequence"]) if action in sequence else -1

    # Before anything of the new product: the old one's uninstall removes its logon task, which
    # must not be the task the new one has just registered.
    if not at("InstallInitialize") < at("RemoveExistingProducts") < min(at("InstallFiles"), at("RegisterLogonTask")):
        problems.append("the old product is not removed before the new one installs")
    result("major upgrade: older replaced, newer kept, old removed first", problems)

    problems = []
    components = {r["Component"]: r for r in table(msi, "Component")}
    registry = table(msi, "Registry")
    names = {settings[d]: p for p, d in PROPERTIES.items()}
    if sorted(r["Name"] for r in registry) != sorted(names):
        problems.append("registry values %s, not %s" % (sorted(r["Name"] for r in registry), sorted(names)))
    for r in registry:
        prop = names.get(r["Name"])
        if r["Root"] != HKLM or r["Key"] != key:
            problems.append("%s written to %s\\%s" % (r["Name"], r["Root"], r["Key"]))
        want = "1" if prop == "AUTOINSTALL" else "[%s]" % prop
        if r["Value"] != want:
            problems.append("%s = %r" % (r["Name"], r["Value"]))
        condition = components.get(r["Component_"], {}).get("Condition", "")
        if not prop or not condition.startswith(prop):
            problems.append("%s written on condition %r" % (r["Name"], condition))
        if components.get(r["Component_"], {}).get("KeyPath") != r["Registry"]:
            problems.append("%s is not its component's key path" % r["Name"])
    found = {r["Signature_"]: r for r in table(msi, "RegLocator")}
    for r in table(msi, "AppSearch"):
        loc = found.get(r["Signature_"], {})
        m = re.fullmatch(r"PREVIOUS_(\w+)", r["Property"])
        if not m or m.group(1) not in PROPERTIES or loc.get("Name") != settings[PROPERTIES[m.group(1)]] \
                or loc.get("Key") != key or loc.get("Root") != HKLM:
            problems.append("search %s reads %s" % (r["Property"], loc))
    for p in PROPERTIES:
        keep = sequence.get("Keep" + p)
        if not keep or not at("AppSearch") < int(keep["Sequence"]) < at("CostFinalize") \
                or not keep.get("Condition", "").startswith("NOT %s" % p):
            problems.append("Keep%s is missing or out of place" % p)
    result("policy values: one per property, on its condition, remembered for upgrades", problems)

    problems = []
    files = table(msi, "File")
    exe = [f for f in files if f["FileName"].split("|")[-1] == "Pavoset.exe"]
    directories = {d["Directory"]: d for d in table(msi, "Directory")}
    program_files = {"x86": "ProgramFilesFolder", "x64": "ProgramFiles64Folder"}[arch]
    if len(files) != 1 or not exe:
        problems.append("files %s" % [f["FileName"] for f in files])
    else:
        folder = components[exe[0]["Component_"]]["Directory_"]
        if directories.get(folder, {}).get("Directory_Parent") != program_files:
            problems.append("Pavoset.exe not under %s" % program_files)
    shortcuts = table(msi, "Shortcut")
    if len(shortcuts) != 1 or shortcuts[0]["Directory_"] != "ProgramMenuFolder" \
            or shortcuts[0]["Name"].split("|")[-1] != texts["TEXT_PROGRAM_NAME"]:
        problems.append("shortcuts %s" % [(s["Directory_"], s["Name"]) for s in shortcuts])
    result("Pavoset.exe under Program Files, Start menu shortcut with the program's name", problems)

    problems = []
    actions = {a["Action"]: a for a in table(msi, "CustomAction")}
    for action, argument, condition in (("RegisterLogonTask", "-register-task", 'AUTOINSTALL = "1" AND NOT REMOVE'),
                                         ("RemoveLogonTask", "-remove-task", 'REMOVE = "ALL"')):
        a = actions.get(action)
        # 18: an installed executable; 1024 deferred; 2048 without impersonation.
        kind = int(a["Type"]) if a else 0
        if not a or kind & 0x3F != 18 or not kind & 1024 or not kind & 2048 or a["Target"] != argument \
                or not exe or a["Source"] != exe[0]["File"]:
            problems.append("%s is %s" % (action, a))
        if sequence.get(action, {}).get("Condition") != condition:
            problems.append("%s runs on %r" % (action, sequence.get(action, {}).get("Condition")))
    if not at("InstallFiles") < at("RegisterLogonTask") < at("InstallFinalize"):
        problems.append("RegisterLogonTask runs before the program is installed")
    if not at("RemoveLogonTask") < at("RemoveFiles"):
        problems.append("RemoveLogonTask runs after the program is removed")
    result("logon task: registered by the installed program on AUTOINSTALL=1, removed on uninstall", problems)
    return 1 if check_common.failures else 0


if __name__ == "__main__":
    sys.exit(main())
