#!/usr/bin/env python3
"""Fails when a test of the build folder has no time limit, or one above
five minutes: a test that waits for a dialog nobody answers must end.
    check_test_timeouts.py BUILD_DIR"""
import json
import subprocess
import sys

LONGEST_SECONDS = 300


def main():
    build = sys.argv[1]
    listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                             capture_output=True, text=True).stdout
    tests = json.loads(listing)["tests"]
    faults = []
    for test in tests:
        limits = [p["value"] for p in test.get("properties", []) if p["name"] == "TIMEOUT"]
        if not limits:
            faults.append(f"{test['name']}: no TIMEOUT")
        elif float(limits[0]) > LONGEST_SECONDS:
            faults.append(f"{test['name']}: TIMEOUT {limits[0]} is above {LONGEST_SECONDS}")
    if not tests:
        faults.append("no tests found")
    for fault in faults:
        print(f"check_test_timeouts: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
