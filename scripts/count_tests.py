#!/usr/bin/env python3
"""Counts the test cases of a ctest run whose GoogleTest programs ran whole.

    count_tests.py BUILD_DIR JUNIT...

JUNIT are ctest's reports (--output-junit) of the run and of its reruns, in
order: a later report's result of a test replaces an earlier one's. A test
whose program wrote BUILD_DIR/gtest-results/<test name>.xml counts as the
test cases in that file (a skipped case passes, as ctest counts it); any
other test counts as one. A program that failed with every case passing
(a crash after the last case, or no report at all) counts one failure more.
Prints ctest's closing line over the cases:

    100% tests passed, 0 tests failed out of 227
"""
import os
import sys
import xml.etree.ElementTree as ET


def main():
    build, reports = sys.argv[1], sys.argv[2:]
    results = {}
    for report in reports:
        for case in ET.parse(report).getroot().iter("testcase"):
            status = case.get("status", "")
            failed = status == "fail" or case.find("failure") is not None or case.find("error") is not None
            results[case.get("name")] = failed
    total = failed_count = 0
    for name, program_failed in results.items():
        path = os.path.join(build, "gtest-results", name + ".xml")
        cases = failures = 0
        if os.path.exists(path):
            try:
                for case in ET.parse(path).getroot().iter("testcase"):
                    cases += 1
                    failures += case.find("failure") is not None
            except ET.ParseError:
                pass
        if cases == 0:
            total += 1
            failed_count += program_failed
            continue
        if program_failed and failures == 0:
            failures, cases = 1, cases + 1
        total += cases
        failed_count += failures
    percent = 100 * (total - failed_count) // total if total else 0
    print(f"{percent}% tests passed, {failed_count} tests failed out of {total}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
