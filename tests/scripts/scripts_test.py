#!/usr/bin/env python3
"""summarize-tests counts a run as scripts/test leaves it; wine32-root check
refuses a lane it cannot run."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../scripts")

SKIP_REASON = "win32 WOW64 lane: this kernel does not run i386 programs"


def junit(cases):
    body = "".join(cases)
    return f'<?xml version="1.0"?><testsuite name="x" tests="{len(cases)}">{body}</testsuite>'


def case(name, status="run", failure=False, skipped_out=None):
    inner = '<failure message="Failed"/>' if failure else ""
    if skipped_out is not None:
        inner += f'<skipped message="SKIP_RETURN_CODE=77"/><system-out>{skipped_out}\n</system-out>'
    return f'<testcase name="{name}" classname="{name}" status="{status}">{inner}</testcase>'


def gtest_report(results):
    cases = []
    for i, r in enumerate(results):
        inner = {"pass": "", "fail": '<failure message="x"/>', "skip": "<skipped/>"}[r]
        result = "skipped" if r == "skip" else "completed"
        cases.append(f'<testcase name="c{i}" classname="S" status="run" result="{result}">{inner}</testcase>')
    return f'<testsuites><testsuite name="S">{"".join(cases)}</testsuite></testsuites>'


class Summary(unittest.TestCase):
    def run_summary(self, files, presets):
        with tempfile.TemporaryDirectory() as root:
            for rel, text in files.items():
                path = os.path.join(root, rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as f:
                    f.write(text)
            p = subprocess.run([sys.executable, os.path.join(SCRIPTS, "summarize-tests"), root, *presets],
                               capture_output=True, text=True)
            return p.returncode, p.stdout.strip().splitlines()

    def test_skipped_lane_is_named_and_counted_above_the_closing_line(self):
        rc, lines = self.run_summary({
            "native.junit.xml": junit([case("core_test")]),
            "native/core_test.xml": gtest_report(["pass", "pass", "skip"]),
            "win32.junit.xml": junit([case("host_test", "notrun", skipped_out=SKIP_REASON),
                                      case("e2e_test", "notrun", skipped_out=SKIP_REASON),
                                      case("executable_headers")]),
        }, ["native", "win32"])
        self.assertEqual(lines[-1], "3 passed, 0 failed, 3 skipped")
        self.assertEqual(lines[-2], f"SKIPPED: {SKIP_REASON} (2 test entries)")
        self.assertEqual(rc, 0)

    def test_an_entry_that_did_not_run_without_a_skip_is_a_failure(self):
        # A fixture that failed leaves its dependants "notrun" with no skip.
        rc, lines = self.run_summary({
            "win64.junit.xml": junit([case("wine_env_setup", "fail", failure=True),
                                      case("dialog_test", "notrun")]),
        }, ["win64"])
        self.assertEqual(lines[-1], "0 passed, 2 failed, 0 skipped")
        self.assertIn("FAILED: win64/dialog_test", lines)
        self.assertEqual(rc, 1)

    def test_a_run_where_everything_was_skipped_does_not_pass(self):
        rc, lines = self.run_summary({
            "win32.junit.xml": junit([case("host_test", "notrun", skipped_out=SKIP_REASON)]),
        }, ["win32"])
        self.assertEqual(lines[-1], "0 passed, 0 failed, 1 skipped")
        self.assertNotEqual(rc, 0)

    def test_failed_cases_and_crashes_count_beside_skips(self):
        rc, lines = self.run_summary({
            "win64.junit.xml": junit([case("a_test", "fail", failure=True), case("b_test", "fail", failure=True)]),
            "win64/a_test.xml": gtest_report(["pass", "fail", "skip"]),
            "win64/b_test.xml": gtest_report(["pass"]),  # crashed after its cases
        }, ["win64"])
        self.assertEqual(lines[-1], "2 passed, 2 failed, 1 skipped")
        self.assertEqual(rc, 1)


class Wine32Check(unittest.TestCase):
    def test_check_refuses_without_a_prepared_tree(self):
        with tempfile.TemporaryDirectory() as cache:
            env = dict(os.environ, QF_WINE32_ROOT=cache)
            p = subprocess.run([os.path.join(SCRIPTS, "wine32-root"), "check"], env=env,
                               capture_output=True, text=True)
            self.assertEqual(p.returncode, 1)
            # One line saying why: it becomes the skipped lane's reason.
            self.assertEqual(len(p.stdout.strip().splitlines()), 1, p.stdout)
            self.assertTrue(p.stdout.strip())


class FormatCheck(unittest.TestCase):
    """check-format names a misformatted file under src/, tests/ or testbed/ and fails."""

    def check(self, files):
        with tempfile.TemporaryDirectory() as root:
            with open(os.path.join(SCRIPTS, "..", ".clang-format")) as style:
                files = dict(files, **{".clang-format": style.read()})
            for rel, text in files.items():
                os.makedirs(os.path.dirname(os.path.join(root, rel)) or root, exist_ok=True)
                with open(os.path.join(root, rel), "w") as f:
                    f.write(text)
            return subprocess.run([os.path.join(SCRIPTS, "check-format"), root], capture_output=True, text=True)

    @unittest.skipUnless(shutil.which("clang-format-14"), "clang-format-14 not installed")
    def test_names_each_misformatted_file(self):
        good = "int F() { return 1; }\n"
        bad = "int  F( ){return 1;}\n"
        for folder in ("src", "tests", "testbed"):
            result = self.check({f"{folder}/a.cpp": good, f"{folder}/b.h": bad})
            self.assertEqual(result.returncode, 1, result.stdout)
            self.assertIn(f"not formatted: {folder}/b.h", result.stdout)
            self.assertNotIn("a.cpp", result.stdout)
        self.assertEqual(self.check({"src/a.cpp": good, "docs/b.cpp": bad}).returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
