#!/usr/bin/env python3
"""The import rules of check_executable.py and the committed table they read."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_executable as check  # noqa: E402

TABLE = {
    "kernel32.dll": {"CloseHandle": (5, 0), "GetNativeSystemInfo": (5, 1),
                     "RtlUnwindEx": (5, 2), "GetTickCount64": (6, 0)},
    "msvcrt.dll": {"_iob": (5, 0), "__iob_func": (5, 1)},
    "msimg32.dll": {},
}


class ImportProblems(unittest.TestCase):
    def test_each_target_takes_exactly_what_its_oldest_windows_has(self):
        cases = [("x86", "CloseHandle", True), ("x86", "GetNativeSystemInfo", False),
                 ("x86", "RtlUnwindEx", False), ("x64", "RtlUnwindEx", True),
                 ("x64", "GetNativeSystemInfo", True), ("x64", "GetTickCount64", False)]
        for arch, function, allowed in cases:
            with self.subTest(arch=arch, function=function):
                problems = check.import_problems({"kernel32.dll": [function]}, arch, TABLE)
                self.assertEqual(problems == [], allowed, problems)

    def test_messages_name_the_function_the_dll_and_both_versions(self):
        problems = check.import_problems({"kernel32.dll": ["CloseHandle", "GetTickCount64"],
                                          "msvcrt.dll": ["__iob_func"]}, "x86", TABLE)
        self.assertEqual(len(problems), 2, problems)
        self.assertIn("imports GetTickCount64 from kernel32.dll, which needs Windows Vista (6.0)", problems[0])
        self.assertIn("Windows 2000 (5.0)", problems[0])
        self.assertIn("__iob_func from msvcrt.dll", problems[1])

    def test_unknown_functions_ordinals_and_other_dlls_are_refused(self):
        problems = check.import_problems({"kernel32.dll": ["CreateFileW", 17], "winpthread-1.dll": ["x"],
                                          "msimg32.dll": ["AlphaBlend"]}, "x64", TABLE)
        self.assertEqual(problems, [
            "imports CreateFileW from kernel32.dll, which the table of system imports lacks",
            "imports ordinal 17 from kernel32.dll: no name to check",
            "imports AlphaBlend from msimg32.dll, which the table of system imports lacks",
            "imports winpthread-1.dll, which is not a system DLL"])

    def test_dll_names_are_matched_as_the_loader_reports_them_lower_cased(self):
        self.assertEqual(check.import_problems({"kernel32.dll": ["closehandle"]}, "x86", TABLE),
                         ["imports closehandle from kernel32.dll, which the table of system imports lacks"])


class ImportTable(unittest.TestCase):
    def read(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8") as f:
            f.write(text)
        try:
            return check.read_import_table(f.name)
        finally:
            os.unlink(f.name)

    def test_reads_sections_versions_and_comments(self):
        table = self.read("# note\n[a.dll]\nF  5.0  docs 2000\n# G 6.0 x\n\n[b.dll]\nG 6.2 docs 8 # kept\n[c.dll]\n")
        self.assertEqual(table, {"a.dll": {"F": (5, 0)}, "b.dll": {"G": (6, 2)}, "c.dll": {}})

    def test_refuses_entries_without_source_outside_a_section_or_repeated(self):
        for text in ("[a.dll]\nF 5.0\n", "F 5.0 docs 2000\n", "[a.dll]\nF five docs\n",
                     "[a.dll]\nF 5.0 x\nF 5.1 y\n", "[a.dll]\n[a.dll]\n", "[A.DLL]\n"):
            with self.subTest(text=text), self.assertRaises(ValueError):
                self.read(text)

    def test_committed_table_keeps_the_loader_facts(self):
        table = check.read_import_table()
        self.assertEqual(table["kernel32.dll"]["GetTickCount64"], (6, 0))
        self.assertEqual(table["kernel32.dll"]["AddVectoredExceptionHandler"], (5, 1))
        self.assertGreater(table["kernel32.dll"]["SetDefaultDllDirectories"], check.OLDEST_TARGET["x64"])
        self.assertGreater(table["msvcrt.dll"]["__iob_func"], check.OLDEST_TARGET["x86"])
        for dll in table:
            self.assertTrue(dll.islower() and dll.endswith(".dll"), dll)


if __name__ == "__main__":
    unittest.main()
