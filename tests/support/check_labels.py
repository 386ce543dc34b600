#!/usr/bin/env python3
"""Fails when a registered test lacks its area label or is not named '<area>.<what>'.

Reads the real test list of a build folder (ctest --show-only=json-v1), so tests that
GoogleTest discovery adds are checked too. Usage: check_labels.py BUILD_DIR
"""
import json
import subprocess
import sys


def main() -> int:
    build = sys.argv[1]
    out = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                         check=True, capture_output=True, text=True).stdout
    tests = json.loads(out)["tests"]
    bad = []
    for t in tests:
        labels = []
        for p in t.get("properties", []):
            if p["name"] == "LABELS":
                labels = p["value"]
        area = t["name"].split(".", 1)[0]
        if "." not in t["name"] or area not in labels:
            bad.append(f"{t['name']} (labels: {', '.join(labels) or 'none'})")
    if len(tests) < 2:
        bad.append(f"only {len(tests)} test(s) registered in {build}")
    for line in bad:
        print("not named after its area label:", line)
    print(f"{len(tests)} tests checked, {len(bad)} wrong")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
