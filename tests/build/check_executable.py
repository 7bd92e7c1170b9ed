#!/usr/bin/env python3
"""Checks a built Quillfort.exe as a Windows loader and Explorer would see it.

usage: check_executable.py <program.exe> <x64|x86> <check>
checks: headers, imports (any shipped program), linked, dialog, icons,
manifest, version (Quillfort.exe)
"""
import os
import re
import struct
import sys

LANG_ZH_CN = 0x0804
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24

# The oldest Windows each architecture's program must start on: Windows 2000,
# and XP x64 / Server 2003 x64 (both 5.2).
OLDEST_TARGET = {"x86": (5, 0), "x64": (5, 2)}
WINDOWS_NAMES = {(5, 0): "Windows 2000", (5, 1): "Windows XP", (5, 2): "Windows Server 2003 / XP x64",
                 (6, 0): "Windows Vista", (6, 1): "Windows 7", (6, 2): "Windows 8"}
IMPORT_TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "system_imports.txt")


def windows_name(version):
    return WINDOWS_NAMES.get(version, "Windows %d.%d" % version)


def read_import_table(path=IMPORT_TABLE):
    """{dll: {function: (major, minor)}}; a malformed or repeated line is an error."""
    table, dll = {}, None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip()
            if not line or line.startswith("#"):
                continue
            where = f"{path}:{number}"
            section = re.fullmatch(r"\[([a-z0-9_]+\.dll)\]", line)
            if section:
                dll = section.group(1)
                if dll in table:
                    raise ValueError(f"{where}: {dll} listed twice")
                table[dll] = {}
                continue
            entry = re.fullmatch(r"(\S+)\s+(\d)\.(\d)\s+(\S.*)", line)
            if dll is None or not entry:
                raise ValueError(f"{where}: expected '[name.dll]' or 'function  major.minor  source'")
            function = entry.group(1)
            if function in table[dll]:
                raise ValueError(f"{where}: {dll} {function} listed twice")
            table[dll][function] = (int(entry.group(2)), int(entry.group(3)))
    return table


def import_problems(imports, arch, table):
    """What stops a program with these imports ({dll: [name or ordinal int]})
    on its oldest target, one text per problem."""
    target = OLDEST_TARGET[arch]
    problems = []
    for dll, functions in sorted(imports.items()):
        if dll not in table:
            problems.append(f"imports {dll}, which is not a system DLL")
            continue
        for function in functions:
            if isinstance(function, int):
                problems.append(f"imports ordinal {function} from {dll}: no name to check")
            elif function not in table[dll]:
                problems.append(f"imports {function} from {dll}, which the table of system imports lacks")
            elif table[dll][function] > target:
                need = table[dll][function]
                problems.append(f"imports {function} from {dll}, which needs {windows_name(need)} "
                                f"({need[0]}.{need[1]}); the {arch} program must start on "
                                f"{windows_name(target)} ({target[0]}.{target[1]})")
    return problems


class Pe:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        expect(d[:2] == b"MZ", "DOS header")
        self.pe = struct.unpack_from("<I", d, 0x3C)[0]
        expect(d[self.pe:self.pe + 4] == b"PE\0\0", "PE signature")
        (self.machine, sections, _, _, _, opt_size, self.characteristics) = \
            struct.unpack_from("<HHIIIHH", d, self.pe + 4)
        self.opt = self.pe + 24
        self.magic = struct.unpack_from("<H", d, self.opt)[0]
        # Same offsets in PE32 and PE32+.
        (self.os_version_major, self.os_version_minor, _, _,
         self.subsystem_version_major, self.subsystem_version_minor) = struct.unpack_from("<6H", d, self.opt + 40)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", d, self.opt + 68)
        dirs = self.opt + (112 if self.magic == 0x20B else 96)
        count = struct.unpack_from("<I", d, dirs - 4)[0]
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(count)]
        self.sections = []
        table = self.opt + opt_size
        for i in range(sections):
            name, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", d, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, rsize), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise AssertionError(f"RVA {rva:#x} in no section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        """{dll name (lower case): [function names]}."""
        rva, _ = self.directories[1]
        found = {}
        at = self.offset(rva)
        thunk_size, by_ordinal = (8, 1 << 63) if self.magic == 0x20B else (4, 1 << 31)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, at)
            if entry == (0, 0, 0, 0, 0):
                return found
            functions = found.setdefault(self.cstring(entry[3]).lower(), [])
            thunk = self.offset(entry[0] or entry[4])
            while True:
                value = int.from_bytes(self.data[thunk:thunk + thunk_size], "little")
                if value == 0:
                    break
                if value & by_ordinal:
                    functions.append(value & 0xFFFF)
                else:
                    functions.append(self.cstring(value + 2))
                thunk += thunk_size
            at += 20

    def resources(self):
        """{(type, id): {language: bytes}} for numeric types and ids."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        d = self.data

        def entries(at):
            named, numbered = struct.unpack_from("<HH", d, at + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", d, at + 16 + 8 * i)
                yield name, target

        found = {}
        for rtype, t in entries(base):
            for rid, n in entries(base + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(base + (n & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", d, base + leaf)
                    at = self.offset(data_rva)
                    key = (rtype if not rtype & 0x80000000 else None,
                           rid if not rid & 0x80000000 else None)
                    found.setdefault(key, {})[lang] = d[at:at + size]
        return found


failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
    return condition


def only_chinese(res, rtype, rid):
    langs = res.get((rtype, rid), {})
    expect(list(langs) == [LANG_ZH_CN], f"resource {rtype}/{rid} languages {[hex(l) for l in langs]}")
    return langs.get(LANG_ZH_CN, b"")


def is_console_program(pe):
    """quillfort-cli*.exe is the console program; everything else the dialog."""
    return os.path.basename(pe.path).lower().startswith("quillfort-cli")


def check_headers(pe, arch):
    expect(pe.machine == (0x8664 if arch == "x64" else 0x14C), f"machine {pe.machine:#x}")
    expect(pe.magic == (0x20B if arch == "x64" else 0x10B), f"optional header magic {pe.magic:#x}")
    if is_console_program(pe):
        expect(pe.subsystem == 3, f"subsystem {pe.subsystem} is not the console subsystem")
    else:
        expect(pe.subsystem == 2, f"subsystem {pe.subsystem} is not the GUI subsystem")
    expect(pe.dll_characteristics & 0x40, "DYNAMIC_BASE (ASLR) missing")
    expect(pe.dll_characteristics & 0x100, "NX_COMPAT (DEP) missing")
    if arch == "x64":
        expect(pe.dll_characteristics & 0x20, "HIGH_ENTROPY_VA missing")
    expect(not pe.characteristics & 0x0001, "relocations stripped: ASLR cannot move the image")
    expect(pe.directories[5][1] > 0, "no base relocation table")
    target = OLDEST_TARGET[arch]
    for what, version in (("operating system", (pe.os_version_major, pe.os_version_minor)),
                          ("subsystem", (pe.subsystem_version_major, pe.subsystem_version_minor))):
        expect(version <= target, f"{what} version {version[0]}.{version[1]} in the header is newer "
                                  f"than {windows_name(target)} ({target[0]}.{target[1]}): its loader refuses it")


def check_imports(pe, arch):
    for problem in import_problems(pe.imports(), arch, read_import_table()):
        expect(False, problem)


def check_linked(pe, _arch):
    imports = pe.imports()
    # The program's own work must have been linked in, not only the framework.
    needed = (("ole32.dll", "CoInitialize"), ("ole32.dll", "CoUninitialize"),
              ("advapi32.dll", "ChangeServiceConfigA"), ("user32.dll", "DrawIcon"),
              ("kernel32.dll", "CreateProcessA"))
    if is_console_program(pe):
        needed = (("ole32.dll", "CoInitializeEx"), ("ole32.dll", "CoUninitialize"),
                  ("advapi32.dll", "ChangeServiceConfigA"), ("advapi32.dll", "RegSetValueExW"),
                  ("advapi32.dll", "ControlService"), ("kernel32.dll", "CreateProcessA"))
    for dll, function in needed:
        expect(function in imports.get(dll, []), f"{function} not imported from {dll}")
    # Looked up at run time: a static import would stop the program on old hosts.
    for function in ("SetDefaultDllDirectories", "GetNativeSystemInfo",
                     "Wow64DisableWow64FsRedirection"):
        expect(function not in imports.get("kernel32.dll", []), f"{function} imported statically")


def read_wstring(data, at):
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def read_sz_or_ord(data, at):
    if data[at:at + 2] == b"\xff\xff":
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    return read_wstring(data, at)


def align4(at):
    return (at + 3) & ~3


WS_CHILD, WS_VISIBLE, WS_TABSTOP, WS_GROUP, WS_BORDER = 0x40000000, 0x10000000, 0x10000, 0x20000, 0x800000
SS_LEFT_GROUP = WS_CHILD | WS_VISIBLE | WS_GROUP
SEPARATOR = WS_CHILD | WS_VISIBLE | WS_BORDER | 0x8 | 0x1000 | 0x200 | 0x800  # GRAYFRAME SUNKEN CENTERIMAGE REALSIZEIMAGE
SEPARATOR_EX = 0x20000 | 0x200 | 0x20  # STATICEDGE CLIENTEDGE TRANSPARENT
BUTTON, STATIC = 0x80, 0x82

CONTROLS = [
    (1, BUTTON, "退出", 166, 156, 43, 17, WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x1, 0),
    (-1, STATIC, "防火墙状态：", 30, 9, 43, 8, SS_LEFT_GROUP | 0x1, 0),
    (1000, STATIC, "关闭", 73, 10, 24, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "入站端口状态", 121, 27, 49, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "端口号", 37, 27, 25, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "445", 42, 44, 13, 8, SS_LEFT_GROUP, 0),
    (1001, STATIC, "放行", 136, 44, 17, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "135", 42, 62, 13, 8, SS_LEFT_GROUP, 0),
    (1002, STATIC, "放行", 136, 62, 17, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "136", 42, 80, 13, 8, SS_LEFT_GROUP, 0),
    (1004, STATIC, "放行", 136, 80, 17, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "137", 42, 98, 13, 8, SS_LEFT_GROUP, 0),
    (1003, STATIC, "放行", 136, 98, 17, 8, SS_LEFT_GROUP, 0),
    (1005, STATIC, "放行", 136, 116, 17, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "138", 42, 116, 13, 8, SS_LEFT_GROUP, 0),
    (-1, STATIC, "139", 42, 134, 13, 8, SS_LEFT_GROUP, 0),
    (1006, STATIC, "放行", 136, 134, 17, 8, SS_LEFT_GROUP, 0),
    (1007, BUTTON, "一键加固", 129, 3, 66, 16, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0),
    (1008, STATIC, "加固过程", 15, 158, 136, 11, SS_LEFT_GROUP, 0),
    (-1, STATIC, "", 15, 39, 190, 1, SEPARATOR, SEPARATOR_EX),
    (-1, STATIC, "", 14, 23, 190, 1, SEPARATOR, SEPARATOR_EX),
]


def check_dialog(pe, _arch):
    t = only_chinese(pe.resources(), RT_DIALOG, 102)
    if not expect(len(t) > 26, "dialog template 102 missing"):
        return
    ver, sig, _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", t, 0)
    expect((ver, sig) == (1, 0xFFFF), "not an extended dialog template")
    expect(style == 0x80000000 | 0x10000000 | 0x00C00000 | 0x80000 | 0x80 | 0x40,
           f"dialog style {style:#x}")
    expect(exstyle == 0x8 | 0x80 | 0x40000, f"dialog extended style {exstyle:#x}")
    expect((count, x, y, cx, cy) == (21, 0, 0, 216, 180), f"dialog count/rect {(count, x, y, cx, cy)}")
    menu, at = read_sz_or_ord(t, 26)
    cls, at = read_sz_or_ord(t, at)
    title, at = read_wstring(t, at)
    expect((menu, cls, title) == ("", "", "Quillfort(V1.0)"), f"menu/class/title {(menu, cls, title)}")
    points, weight, italic, charset = struct.unpack_from("<HHBB", t, at)
    face, at = read_wstring(t, at + 6)
    expect((points, weight, italic, charset, face) == (12, 400, 0, 0, "Microsoft Sans Serif"),
           f"dialog font {(points, weight, italic, charset, face)}")
    for index, want in enumerate(CONTROLS):
        at = align4(at)
        _help, ex, st, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhi", t, at)
        cls, at = read_sz_or_ord(t, at + 24)
        text, at = read_sz_or_ord(t, at)
        extra = struct.unpack_from("<H", t, at)[0]
        at += 2 + extra
        # rc writes the predefined classes as atoms, windres as names.
        cls = {"BUTTON": BUTTON, "STATIC": STATIC}.get(cls.upper(), cls) if isinstance(cls, str) else cls
        got = (cid, cls, text, x, y, cx, cy, st, ex)
        expect(got == want, f"control {index + 1}: {got} != {want}")


def check_icons(pe, _arch):
    res = pe.resources()
    expected = {
        128: sorted((s, b) for s in (48, 32, 24, 16) for b in (4, 8, 32)),
        129: [(128, 32)],
        131: [(128, 32)],
    }
    for group, images in expected.items():
        g = only_chinese(res, RT_GROUP_ICON, group)
        if not expect(len(g) >= 6, f"icon group {group} missing"):
            continue
        reserved, kind, count = struct.unpack_from("<HHH", g, 0)
        expect((reserved, kind) == (0, 1), f"icon group {group} header")
        found = []
        for i in range(count):
            w, h, _colours, _r, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", g, 6 + 14 * i)
            image = only_chinese(res, RT_ICON, icon_id)
            expect(len(image) == size, f"icon {icon_id} size {len(image)} != {size}")
            header = struct.unpack_from("<IiiHH", image, 0) if len(image) >= 16 else (0,) * 5
            expect(header == (40, w, 2 * h, 1, bits), f"icon {icon_id} bitmap header {header}")
            found.append((w, bits))
            expect(w == h and planes == 1, f"icon {icon_id} entry")
        expect(sorted(found) == images, f"icon group {group} images {sorted(found)}")


def check_manifest(pe, _arch):
    res = pe.resources()
    manifests = [k for k in res if k[0] == RT_MANIFEST]
    expect(manifests == [(RT_MANIFEST, 1)], f"manifest resources {manifests}")
    text = only_chinese(res, RT_MANIFEST, 1).decode("utf-8")
    import xml.etree.ElementTree as ET
    root = ET.fromstring(text)
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    expect(root.tag == v1 + "assembly" and root.get("manifestVersion") == "1.0", "manifest root")
    expect([c.tag for c in root] == [v3 + "trustInfo"], f"manifest content {[c.tag for c in root]}")
    levels = list(root.iter(v3 + "requestedExecutionLevel"))
    level = "asInvoker" if is_console_program(pe) else "requireAdministrator"
    expect(len(levels) == 1 and levels[0].get("level") == level
           and levels[0].get("uiAccess") == "false", "requested execution level")
    expect("dependency" not in text and "supportedOS" not in text, "dependencies or supported OS list")


def version_children(data, at, end):
    """(key, value bytes, value type, children start, end) of each child block."""
    while at < end:
        at = align4(at)
        if at >= end:
            break
        length, value_length, value_type = struct.unpack_from("<HHH", data, at)
        key, value_at = read_wstring(data, at + 6)
        value_at = align4(value_at)
        value_size = value_length * 2 if value_type == 1 else value_length
        yield key, data[value_at:value_at + value_size], value_type, align4(value_at + value_size), at + length
        at += length


def check_version(pe, _arch):
    v = only_chinese(pe.resources(), RT_VERSION, 1)
    if not expect(len(v) > 92, "version record missing"):
        return
    length = struct.unpack_from("<H", v, 0)[0]
    key, fixed, _, children, end = next(version_children(v, 0, length))
    expect(key == "VS_VERSION_INFO", f"version root {key}")
    fields = struct.unpack_from("<13I", fixed, 0)
    expect(fields[0] == 0xFEEF04BD, "fixed file info signature")
    expect(fields[2:6] == (0x10000, 1, 0x10000, 1), f"file/product version {fields[2:6]}")
    expect(fields[6:11] == (0x3F, 0, 4, 1, 0), f"mask/flags/os/type/subtype {fields[6:11]}")
    strings, translation = {}, None
    for key, _, _, start, stop in version_children(v, children, end):
        for sub, value, _, sub_start, sub_stop in version_children(v, start, stop):
            if key == "StringFileInfo":
                expect(sub == "080403a8", f"string block {sub}")
                for name, text, _, _, _ in version_children(v, sub_start, sub_stop):
                    strings[name] = text.decode("utf-16-le").rstrip("\0")
            elif key == "VarFileInfo" and sub == "Translation":
                translation = struct.unpack_from("<HH", value, 0)
    name, description = "Quillfort.exe", "Quillfort 端口加固工具"
    if is_console_program(pe):
        name, description = "quillfort-cli.exe", "Quillfort command line"
    expect(strings == {
        "CompanyName": "Quillfort", "FileDescription": description,
        "FileVersion": "1.0.0.1", "InternalName": name,
        "LegalCopyright": "Copyright (C) 2026 Quillfort", "OriginalFilename": name,
        "ProductName": "Quillfort", "ProductVersion": "1.0.0.1"}, f"version strings {strings}")
    expect(translation == (0x0804, 936), f"translation {translation}")


CHECKS = {"headers": check_headers, "imports": check_imports, "linked": check_linked, "dialog": check_dialog,
          "icons": check_icons, "manifest": check_manifest, "version": check_version}


def main():
    path, arch, check = sys.argv[1:4]
    try:
        CHECKS[check](Pe(path), arch)
    except (AssertionError, struct.error, ValueError, StopIteration) as error:
        failures.append(f"unreadable: {error!r}")
    for failure in failures:
        print(f"FAIL {check}: {failure}")
    if not failures:
        print(f"ok {check}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
