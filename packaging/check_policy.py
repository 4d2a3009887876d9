#!/usr/bin/env python3
"""Checks the Group Policy templates in packaging/policy against the program's own names.

Usage: check_policy.py [REPOSITORY]. Prints "PASS name" / "FAIL name: why" lines and exits 1
on a failure. What it holds the templates to:
  - the ADMX and each ADML parse, in the policy definitions namespace, with a target
    namespace, supersededAdm, resources and categories;
  - every $(string.X) and $(presentation.X) the ADMX names is in each ADML, every
    presentation control points at an element of its policy and every element has one;
  - every policy is a machine policy on SETTINGS_KEY, names a value of a SETTING_ define of
    settings/registry_store.h, and stores text (the program reads REG_SZ only);
  - every machine setting of that header has a policy.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_common  # noqa: E402
from check_common import header_defines, result  # noqa: E402

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
Q = "{%s}" % NS
LANGUAGES = ("en-US", "ko-KR")
# The protocol a user's client last succeeded with is remembered per user, never configured.
NOT_POLICIES = {"SETTING_PROTOCOL"}


def parse(path, problems):
    try:
        return ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        problems.append("%s: %s" % (os.path.basename(path), e))
        return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    policy_dir = os.path.join(root, "packaging", "policy")
    header = header_defines(os.path.join(root, "settings", "registry_store.h"))
    settings_key = header.get("SETTINGS_KEY")
    settings = {n: v for n, v in header.items() if n.startswith("SETTING_")}

    problems = []
    admx = parse(os.path.join(policy_dir, "Pavoset.admx"), problems)
    adml = {lang: parse(os.path.join(policy_dir, lang, "Pavoset.adml"), problems) for lang in LANGUAGES}
    result("policy templates parse as XML", problems)
    if admx is None or None in adml.values():
        return 1

    problems = []
    if admx.tag != Q + "policyDefinitions":
        problems.append("the ADMX root is %s" % admx.tag)
    target = admx.find(Q + "policyNamespaces/" + Q + "target")
    if target is None or not target.get("prefix") or not target.get("namespace"):
        problems.append("no target namespace with a prefix")
    for needed in ("supersededAdm", "resources", "categories", "policies"):
        if admx.find(Q + needed) is None:
            problems.append("no <%s>" % needed)
    for lang, doc in adml.items():
        if doc.tag != Q + "policyDefinitionResources":
            problems.append("%s: root is %s" % (lang, doc.tag))
    categories = {c.get("name"): c for c in admx.iter(Q + "category")}
    supported = {d.get("name") for d in admx.iter(Q + "definition")}
    for node in admx.iter():
        for ref in node.findall(Q + "parentCategory"):
            if ref.get("ref") not in categories:
                problems.append("unknown category %s" % ref.get("ref"))
    for policy in admx.iter(Q + "policy"):
        s = policy.find(Q + "supportedOn")
        if s is None or s.get("ref") not in supported:
            problems.append("%s: no known supportedOn" % policy.get("name"))
        if policy.find(Q + "parentCategory") is None:
            problems.append("%s: in no category" % policy.get("name"))
    result("ADMX structure: namespace, supersededAdm, categories, supportedOn", problems)

    # Every string and presentation the ADMX refers to, in every language.
    problems = []
    text = ET.tostring(admx, encoding="unicode")
    strings_used = set(re.findall(r"\$\(string\.(\w+)\)", text))
    presentations_used = set(re.findall(r"\$\(presentation\.(\w+)\)", text))
    for lang, doc in adml.items():
        strings = {s.get("id"): (s.text or "") for s in doc.iter(Q + "string")}
        presentations = {p.get("id"): p for p in doc.iter(Q + "presentation")}
        for s in sorted(strings_used - strings.keys()):
            problems.append("%s lacks string %s" % (lang, s))
        for s in sorted(strings_used & strings.keys()):
            if not strings[s].strip():
                problems.append("%s: string %s is empty" % (lang, s))
        for p in sorted(presentations_used - presentations.keys()):
            problems.append("%s lacks presentation %s" % (lang, p))
        for policy in admx.iter(Q + "policy"):
            ref = re.fullmatch(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
            elements = policy.find(Q + "elements")
            ids = {e.get("id") for e in elements} if elements is not None else set()
            controls = set()
            if ref and ref.group(1) in presentations:
                controls = {c.get("refId") for c in presentations[ref.group(1)] if c.get("refId")}
            for missing in sorted(ids - controls):
                problems.append("%s: element %s of %s has no control" % (lang, missing, policy.get("name")))
            for stray in sorted(controls - ids):
                problems.append("%s: control for %s names no element of %s" % (lang, stray, policy.get("name")))
    result("every string and presentation the ADMX names exists in en-US and ko-KR", problems)

    # Every value named is one the program reads, stored the way it reads it.
    problems = []
    named = set()
    values = set(settings.values())
    for policy in admx.iter(Q + "policy"):
        name = policy.get("name")
        if policy.get("class") != "Machine":
            problems.append("%s: class %s, not Machine" % (name, policy.get("class")))
        if policy.get("key") != settings_key:
            problems.append("%s: key %s, not %s" % (name, policy.get("key"), settings_key))
        if policy.get("valueName"):
            named.add(policy.get("valueName"))
            for state in ("enabledValue", "disabledValue"):
                v = policy.find(Q + state)
                if v is None or v.find(Q + "string") is None:
                    problems.append("%s: %s is no string" % (name, state))
        elements = policy.find(Q + "elements")
        for e in elements if elements is not None else []:
            named.add(e.get("valueName"))
            if e.get("key") not in (None, settings_key):
                problems.append("%s: element %s on key %s" % (name, e.get("id"), e.get("key")))
            kind = e.tag[len(Q):]
            if kind == "decimal" and e.get("storeAsText") != "true":
                problems.append("%s: decimal %s stored as a number" % (name, e.get("id")))
            elif kind == "text" and e.get("expandable") == "true":
                problems.append("%s: text %s is expandable" % (name, e.get("id")))
            elif kind not in ("text", "decimal"):
                problems.append("%s: element %s is a %s" % (name, e.get("id"), kind))
    for v in sorted(named - values):
        problems.append("value %s is not a SETTING_ of settings/registry_store.h" % v)
    wanted = {v for n, v in settings.items() if n not in NOT_POLICIES}
    for v in sorted(wanted - named):
        problems.append("machine setting %s has no policy" % v)
    result("policies name exactly the machine settings of settings/registry_store.h, as text", problems)
    return 1 if check_common.failures else 0


if __name__ == "__main__":
    sys.exit(main())
