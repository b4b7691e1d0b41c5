#!/usr/bin/env python3
"""Checks of the macOS bundle, which nothing here can load.

  macos_bundle_check.py bundle     BUNDLE          each slice is a bundle with no
                                                   undefined symbols, for the
                                                   expected processor and macOS
  macos_bundle_check.py libraries  BUNDLE          the only library loaded is
                                                   /usr/lib/libSystem.B.dylib
  macos_bundle_check.py exports    BUNDLE          the only export is _Main
  macos_bundle_check.py imports    BUNDLE STUB     every import is bound to the
                                                   system library and listed in
                                                   its stub for that slice
  macos_bundle_check.py signature  BUNDLE          the arm64 slice carries an
                                                   ad-hoc signature whose page
                                                   hashes are right
  macos_bundle_check.py layout     SOURCES OBJ...  the record offsets and sizes
                                                   in the objects' debug
                                                   information are the macOS
                                                   column of every checked record

The tools come from the environment: VESTREL_OBJDUMP (llvm-objdump) and
VESTREL_DWARFDUMP (llvm-dwarfdump). Prints what it found and "FAILED: ..." for
each fault; exits with 1 on any.
"""
import glob
import hashlib
import os
import re
import struct
import subprocess
import sys

# The slices the bundle must have: Mach-O processor type, minimum macOS.
SLICES = {"x86_64": (0x01000007, "10.13"), "arm64": (0x0100000C, "11.0")}
SYSTEM_LIBRARY = "/usr/lib/libSystem.B.dylib"
ENTRY = "_Main"

MH_MAGIC_64 = 0xFEEDFACF
FAT_MAGIC = 0xCAFEBABE
MH_BUNDLE = 8
MH_NOUNDEFS = 0x1
LC_LOAD_DYLIB_KINDS = {0xC: "LC_LOAD_DYLIB", 0x80000018: "LC_LOAD_WEAK_DYLIB",
                       0x8000001F: "LC_REEXPORT_DYLIB", 0x20: "LC_LAZY_LOAD_DYLIB",
                       0x80000023: "LC_LOAD_UPWARD_DYLIB"}
LC_CODE_SIGNATURE = 0x1D
LC_BUILD_VERSION = 0x32
LC_VERSION_MIN_MACOSX = 0x24

failures = []


def fail(message):
    failures.append(message)
    print("FAILED: " + message)


def slices(path):
    """{architecture name: the thin Mach-O bytes} of a universal or thin file."""
    data = open(path, "rb").read()
    names = {cpu: name for name, (cpu, _) in SLICES.items()}
    if struct.unpack_from(">I", data)[0] == FAT_MAGIC:
        count = struct.unpack_from(">I", data, 4)[0]
        out = {}
        for i in range(count):
            cpu, _, offset, size, _ = struct.unpack_from(">iiIII", data, 8 + 20 * i)
            out[names.get(cpu, "cpu %#x" % cpu)] = data[offset:offset + size]
        return out
    cpu = struct.unpack_from("<i", data, 4)[0]
    return {names.get(cpu, "cpu %#x" % cpu): data}


def header(data):
    magic, cpu, _, filetype, ncmds, _, flags, _ = struct.unpack_from("<IiiIIIII", data)
    if magic != MH_MAGIC_64:
        raise SystemExit("FAILED: not a 64-bit Mach-O file (magic %#x)" % magic)
    commands, offset = [], 32
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", data, offset)
        commands.append((cmd, offset, size))
        offset += size
    return cpu, filetype, flags, commands


def version(packed):
    return "%d.%d" % (packed >> 16, (packed >> 8) & 0xFF)


def objdump(path, arch, *options):
    tool = os.environ.get("VESTREL_OBJDUMP", "llvm-objdump-14")
    return subprocess.run([tool, "--macho", "--arch=" + arch, *options, path],
                          capture_output=True, text=True, check=True).stdout


def check_bundle(path):
    found = slices(path)
    if sorted(found) != sorted(SLICES):
        fail("slices %s, expected %s" % (sorted(found), sorted(SLICES)))
    for arch, data in sorted(found.items()):
        cpu, filetype, flags, commands = header(data)
        minimum = None
        for cmd, offset, _ in commands:
            if cmd == LC_BUILD_VERSION:  # macOS 10.14 and later
                platform, minos = struct.unpack_from("<II", data, offset + 8)
                minimum = version(minos) if platform == 1 else "platform %d" % platform
            elif cmd == LC_VERSION_MIN_MACOSX:  # older targets
                minimum = version(struct.unpack_from("<I", data, offset + 8)[0])
        print("%s: file type %d, flags %#x, macOS %s and later" % (arch, filetype, flags, minimum))
        if arch in SLICES and cpu != SLICES[arch][0]:
            fail("%s: processor type %#x" % (arch, cpu))
        if filetype != MH_BUNDLE:
            fail("%s: file type %d is not a bundle (%d)" % (arch, filetype, MH_BUNDLE))
        if not flags & MH_NOUNDEFS:
            fail("%s: undefined symbols are allowed (no MH_NOUNDEFS)" % arch)
        if arch in SLICES and minimum != SLICES[arch][1]:
            fail("%s: minimum macOS %s, expected %s" % (arch, minimum, SLICES[arch][1]))


def check_libraries(path):
    for arch, data in sorted(slices(path).items()):
        _, _, _, commands = header(data)
        loaded = []
        for cmd, offset, size in commands:
            if cmd in LC_LOAD_DYLIB_KINDS:
                name_offset = struct.unpack_from("<I", data, offset + 8)[0]
                name = data[offset + name_offset:offset + size].split(b"\0")[0].decode()
                loaded.append((LC_LOAD_DYLIB_KINDS[cmd], name))
        print("%s: %s" % (arch, loaded))
        if loaded != [("LC_LOAD_DYLIB", SYSTEM_LIBRARY)]:
            fail("%s loads %s; only %s may be loaded" % (arch, loaded, SYSTEM_LIBRARY))


def check_exports(path):
    for arch in sorted(slices(path)):
        exports = [line.split()[-1] for line in objdump(path, arch, "--exports-trie").splitlines()
                   if line.strip() and not line.startswith(("Exports trie", path))]
        print("%s: exports %s" % (arch, exports))
        if exports != [ENTRY]:
            fail("%s exports %s; the only export must be %s" % (arch, exports, ENTRY))


def stub_symbols(stub):
    """{architecture: symbols} from the 'exports' of a text stub (tbd v4)."""
    text = open(stub).read()
    section = text.split("exports:", 1)[1]
    out = {arch: set() for arch in SLICES}
    for targets, symbols in re.findall(r"-\s*targets:\s*\[([^\]]*)\]\s*symbols:\s*\[([^\]]*)\]",
                                       section):
        for target in targets.split(","):
            arch = target.strip().split("-")[0]
            out.setdefault(arch, set()).update(s.strip() for s in symbols.split(",") if s.strip())
    return out


def check_imports(path, stub):
    listed = stub_symbols(stub)
    for arch in sorted(slices(path)):
        binds = []
        for kind in ("--bind", "--lazy-bind", "--weak-bind"):
            for line in objdump(path, arch, kind).splitlines():
                fields = line.split()
                # segment section address [type addend] dylib symbol
                if fields and fields[0].startswith("__") and len(fields) >= 5:
                    binds.append((kind[2:], fields[-2], fields[-1]))
        symbols = sorted({symbol for _, _, symbol in binds})
        print("%s: %d binds of %s" % (arch, len(binds), symbols))
        if not binds:
            fail("%s: no imports found; is the objdump output understood?" % arch)
        for kind, library, symbol in binds:
            if library != "libSystem":
                fail("%s: %s bound to %s, not to the system library" % (arch, symbol, library))
            elif symbol not in listed.get(arch, ()):
                fail("%s: %s is imported but not listed in %s" % (arch, symbol, stub))


def check_signature(path):
    found = slices(path)
    if "arm64" not in found:
        fail("no arm64 slice")
        return
    data = found["arm64"]
    _, _, _, commands = header(data)
    signature = [struct.unpack_from("<II", data, offset + 8)
                 for cmd, offset, _ in commands if cmd == LC_CODE_SIGNATURE]
    if not signature:
        fail("arm64: no code signature (LC_CODE_SIGNATURE); macOS on arm64 refuses to load it")
        return
    start, _ = signature[0]
    magic, _, count = struct.unpack_from(">III", data, start)
    if magic != 0xFADE0CC0:
        fail("arm64: the signature is not an embedded signature (magic %#x)" % magic)
        return
    directories = 0
    for i in range(count):
        _, blob = struct.unpack_from(">II", data, start + 12 + 8 * i)
        cd = start + blob
        (cd_magic, _, cd_version, flags, hash_offset, ident_offset, _, code_slots, code_limit,
         hash_size, hash_type, _, page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", data, cd)
        if cd_magic != 0xFADE0C02:
            continue
        directories += 1
        ident = data[cd + ident_offset:data.index(b"\0", cd + ident_offset)].decode()
        page = 1 << page_shift
        bad = [n for n in range(code_slots)
               if hashlib.sha256(data[n * page:min((n + 1) * page, code_limit)]).digest() !=
               data[cd + hash_offset + n * hash_size:cd + hash_offset + (n + 1) * hash_size]]
        print("arm64: code directory %#x, identifier %r, flags %#x, %d pages of %d bytes up to %d,"
              " %d wrong" % (cd_version, ident, flags, code_slots, page, code_limit, len(bad)))
        if hash_type != 2 or hash_size != 32:
            fail("arm64: the page hashes are not SHA-256")
        if not flags & 0x2:
            fail("arm64: the signature is not ad hoc (flags %#x)" % flags)
        if code_limit != start:
            fail("arm64: the signature covers %d bytes, the code ends at %d" % (code_limit, start))
        if code_slots != (code_limit + page - 1) // page:
            fail("arm64: %d page hashes for %d bytes" % (code_slots, code_limit))
        if bad:
            fail("arm64: the hashes of pages %s do not match their bytes" % bad)
    if directories != 1:
        fail("arm64: %d code directories" % directories)


# ---- Record layouts from the debug information ----------------------------

def layout_checks(sources):
    """(record, field path or None, macOS value) of every VESTREL_CHECK_OFFSET
    and VESTREL_CHECK_SIZE in the record headers that
    tests/platforms/record_layouts_check.cpp includes."""
    checker = os.path.join(sources, "tests", "platforms", "record_layouts_check.cpp")
    headers = re.findall(r'#include "([^"]+)"', open(checker).read())
    checks = []
    for name in headers:
        text = open(os.path.join(sources, name)).read()
        for record, field, mac in re.findall(
                r"VESTREL_CHECK_OFFSET\(\s*(\w+),\s*([\w.]+),\s*\d+,\s*\d+,\s*(\d+)\)", text):
            checks.append((record, field, int(mac)))
        for record, mac in re.findall(r"VESTREL_CHECK_SIZE\(\s*(\w+),\s*\d+,\s*\d+,\s*(\d+)\)",
                                      text):
            checks.append((record, None, int(mac)))
    return checks


def dies_of(obj, arch):
    """The debug information entries of one slice of an object: {offset: (tag,
    attributes, children)}."""
    tool = os.environ.get("VESTREL_DWARFDUMP", "llvm-dwarfdump-14")
    text = subprocess.run([tool, "--debug-info", "--arch=" + arch, obj], capture_output=True,
                          text=True, check=True).stdout
    dies, stack = {}, []
    for line in text.splitlines():
        m = re.match(r"(0x[0-9a-f]+):(\s+)(DW_TAG_\w+|NULL)", line)
        if m:
            offset, depth, tag = int(m[1], 16), len(m[2]), m[3]
            while stack and stack[-1][1] >= depth:
                stack.pop()
            if tag == "NULL":
                continue
            dies[offset] = (tag, {}, [])
            if stack:
                dies[stack[-1][0]][2].append(offset)
            stack.append((offset, depth))
            continue
        m = re.match(r"\s+(DW_AT_\w+)\s+\((.*)\)$", line)
        if m and stack:
            dies[stack[-1][0]][1][m[1]] = m[2]
    return dies


def number(value):
    return int(value.split()[0], 0)


def referenced(value):
    return int(re.match(r"(0x[0-9a-f]+)", value)[1], 16)


def unqualified(dies, offset):
    while dies[offset][0] in ("DW_TAG_typedef", "DW_TAG_const_type", "DW_TAG_volatile_type"):
        offset = referenced(dies[offset][1]["DW_AT_type"])
    return offset


def member(dies, record, name):
    """(offset, type) of the field `name` of a record, looking into anonymous
    unions and structures as C++ does."""
    for child in dies[record][2]:
        tag, attributes, _ = dies[child]
        if tag != "DW_TAG_member":
            continue
        offset = number(attributes.get("DW_AT_data_member_location", "0"))
        kind = unqualified(dies, referenced(attributes["DW_AT_type"]))
        own = attributes.get("DW_AT_name", "").strip('"')
        if own == name:
            return offset, kind
        if not own:
            inner = member(dies, kind, name)
            if inner:
                return offset + inner[0], inner[1]
    return None


def check_layout(sources, objects):
    checks = layout_checks(sources)
    print("%d checked values in the record headers" % len(checks))
    if not checks:
        fail("no VESTREL_CHECK_OFFSET or VESTREL_CHECK_SIZE found under %s" % sources)
    for arch in sorted(SLICES):
        found = set()
        compared = 0
        for obj in objects:
            dies = dies_of(obj, arch)
            records = {}
            for offset, (tag, attributes, _) in dies.items():
                name = attributes.get("DW_AT_name", "").strip('"')
                if not name:
                    continue
                if tag in ("DW_TAG_structure_type", "DW_TAG_class_type", "DW_TAG_union_type") \
                        and "DW_AT_byte_size" in attributes:
                    records.setdefault(name, []).append(offset)
                elif tag == "DW_TAG_typedef":  # typedef struct { ... } Name;
                    target = unqualified(dies, offset)
                    if dies[target][0] == "DW_TAG_structure_type" and \
                            "DW_AT_name" not in dies[target][1]:
                        records.setdefault(name, []).append(target)
            for index, (record, field, mac) in enumerate(checks):
                for offset in records.get(record, []):
                    if field is None:
                        got = number(dies[offset][1]["DW_AT_byte_size"])
                    else:
                        got, current = 0, offset
                        for part in field.split("."):
                            hit = member(dies, current, part)
                            if hit is None:
                                got = None
                                break
                            got, current = got + hit[0], hit[1]
                    compared += 1
                    found.add(index)
                    if got != mac:
                        fail("%s %s: %s %s is %s in the debug information, %d in the macOS column"
                             % (arch, os.path.basename(obj), record, field or "size", got, mac))
        print("%s: %d of %d checked values found in the debug information of %d objects, "
              "%d comparisons" % (arch, len(found), len(checks), len(objects), compared))
        for index, (record, field, _) in enumerate(checks):
            if index not in found:
                fail("%s: %s %s is in no object's debug information" % (arch, record,
                                                                       field or "size"))


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)
    what, rest = argv[1], argv[2:]
    if what == "bundle":
        check_bundle(*rest)
    elif what == "libraries":
        check_libraries(*rest)
    elif what == "exports":
        check_exports(*rest)
    elif what == "imports":
        check_imports(*rest)
    elif what == "signature":
        check_signature(*rest)
    elif what == "layout":
        check_layout(rest[0], rest[1:])
    else:
        raise SystemExit(__doc__)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
