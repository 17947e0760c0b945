#!/usr/bin/env python3
"""Structural checks of a PE file: machine and format, exports by name and ordinal, imports
by ordinal, the DLLs it needs, and its version resource. Prints one line per check and exits
non-zero when any check fails.

  pecheck.py FILE [--machine i386|amd64] [--exports NAME,NAME,...] [--undecorated]
                  [--stdcall NAME:BYTES,...] [--imports-by-ordinal DLL:FIRST-LAST]
                  [--allowed-dlls DLL,DLL,...] [--not-imported DLL:NAME,...]
                  [--version A.B.C.D] [--string KEY=VALUE ...]
                  [--execution-level LEVEL]
"""
import argparse
import re
import struct
import subprocess
import sys

MACHINES = {"i386": (0x14C, 0x10B), "amd64": (0x8664, 0x20B)}


class PE:
    """A PE file's headers, sections, exports, imports and resources, read from its bytes."""

    def __init__(self, data):
        self.data = data
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, nsections = struct.unpack_from("<HH", d, pe + 4)
        optsize = struct.unpack_from("<H", d, pe + 20)[0]
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.image_base = struct.unpack_from("<Q" if self.magic == 0x20B else "<I", d,
                                             opt + (24 if self.magic == 0x20B else 28))[0]
        dirs = opt + (112 if self.magic == 0x20B else 96)
        self.dirs = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        s = opt + optsize
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, s + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva %#x outside sections" % rva)

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.off(rva))[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.off(rva))[0]

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return {}
        base, nfuncs, nnames, funcs, names, ordinals = struct.unpack_from("<IIIIII", self.data, self.off(rva) + 16)
        result = {}
        for i in range(nfuncs):
            if self.u32(funcs + 4 * i):
                result[base + i] = None
        for i in range(nnames):
            name = self.cstr(self.u32(names + 4 * i))
            result[base + self.u16(ordinals + 2 * i)] = name
        return result

    def export_rvas(self):
        rva, _ = self.dirs[0]
        base, nfuncs, nnames, funcs, names, ordinals = struct.unpack_from("<IIIIII", self.data, self.off(rva) + 16)
        out = {}
        for i in range(nnames):
            out[self.cstr(self.u32(names + 4 * i))] = self.u32(funcs + 4 * self.u16(ordinals + 2 * i))
        return out

    def imports(self):
        """{dll: [ordinal or name, ...]}"""
        rva, _ = self.dirs[1]
        result = {}
        wide = self.magic == 0x20B
        while rva:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, self.off(rva))
            if not name:
                break
            entries = []
            t = lookup or thunks
            while True:
                v = struct.unpack_from("<Q" if wide else "<I", self.data, self.off(t))[0]
                if not v:
                    break
                flag = 1 << 63 if wide else 1 << 31
                entries.append(v & 0xFFFF if v & flag else self.cstr((v & 0x7FFFFFFF) + 2))
                t += 8 if wide else 4
            result[self.cstr(name)] = entries
            rva += 20
        return result

    def resources(self):
        """[(type, name, lang, bytes)] with integer or string ids."""
        root, _ = self.dirs[2]
        out = []
        if not root:
            return out

        def entries(rva):
            o = self.off(rva)
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                if ident & 0x80000000:
                    so = self.off(root + (ident & 0x7FFFFFFF))
                    n = struct.unpack_from("<H", self.data, so)[0]
                    ident = self.data[so + 2:so + 2 + 2 * n].decode("utf-16-le")
                yield ident, target

        for t, t_target in entries(root):
            for n, n_target in entries(root + (t_target & 0x7FFFFFFF)):
                for lang, l_target in entries(root + (n_target & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, self.off(root + l_target))
                    o = self.off(data_rva)
                    out.append((t, n, lang, self.data[o:o + size]))
        return out

    def version_info(self):
        for t, _, lang, blob in self.resources():
            if t == 16:
                return parse_version(blob)
        return None


def parse_version(blob):
    """(file version string, {key: value}) from a VS_VERSIONINFO block."""
    def block(o):
        length, vlen, vtype = struct.unpack_from("<HHH", blob, o)
        end = blob.index(b"\0\0", o + 6)
        while (end - o - 6) % 2:
            end = blob.index(b"\0\0", end + 1)
        key = blob[o + 6:end].decode("utf-16-le")
        vo = (end + 2 + 3) & ~3
        return length, vlen, vtype, key, vo

    length, vlen, _, key, vo = block(0)
    ms, ls = struct.unpack_from("<II", blob, vo + 8)
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}

    def walk(o, end):
        while o < end:
            length, vlen, vtype, key, vo = block(o)
            if length == 0:
                break
            if key in ("StringFileInfo", "VarFileInfo") or (len(key) == 8 and all(c in "0123456789abcdefABCDEF" for c in key)):
                walk(vo, o + length)
            elif vtype == 1:
                strings[key] = blob[vo:vo + 2 * vlen].decode("utf-16-le").rstrip("\0")
            o = (o + length + 3) & ~3

    walk((vo + vlen + 3) & ~3, length)
    return version, strings


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("file")
    ap.add_argument("--machine", choices=MACHINES)
    ap.add_argument("--exports")
    ap.add_argument("--undecorated", action="store_true")
    ap.add_argument("--stdcall", help="NAME:BYTES,... exports that must return with ret BYTES (i386)")
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--imports-by-ordinal", action="append", default=[])
    ap.add_argument("--allowed-dlls")
    ap.add_argument("--not-imported", action="append", default=[],
                    help="DLL:NAME,... functions that must be looked up at run time, never imported")
    ap.add_argument("--version")
    ap.add_argument("--string", action="append", default=[])
    ap.add_argument("--execution-level", help="the manifest's requestedExecutionLevel; no compatibility section")
    args = ap.parse_args()

    failures = 0
    passes = 0

    def check(ok, what, expected, got):
        nonlocal failures, passes
        print("%s: %s (expected %s, got %s)" % ("ok" if ok else "FAIL", what, expected, got))
        failures += 0 if ok else 1
        passes += 1 if ok else 0

    with open(args.file, "rb") as f:
        pe = PE(f.read())
    print("checking", args.file)
    if args.machine:
        machine, magic = MACHINES[args.machine]
        check(pe.machine == machine, "machine", hex(machine), hex(pe.machine))
        check(pe.magic == magic, "optional header magic", hex(magic), hex(pe.magic))
    if args.exports:
        wanted = {i + 1: n for i, n in enumerate(args.exports.split(","))}
        got = pe.exports()
        check(got == wanted, "exports by ordinal and name", wanted, got)
        if args.undecorated:
            bad = [n for n in got.values() if n is None or "@" in n or n.startswith("_")]
            check(not bad, "undecorated export names", "none decorated", bad)
    if args.stdcall:
        rvas = pe.export_rvas()
        for item in args.stdcall.split(","):
            name, nbytes = item.split(":")
            start = pe.image_base + rvas[name]
            text = subprocess.run([args.objdump, "-d", "--start-address=%#x" % start,
                                   "--stop-address=%#x" % (start + 0x400), args.file],
                                  capture_output=True, text=True).stdout
            rets = [l.split("ret")[1].strip() for l in text.splitlines() if "\tret" in l]
            first = rets[0] if rets else "none"
            want = "$%#x" % int(nbytes) if int(nbytes) else ""
            check(first == want, "%s returns with ret %s" % (name, want), want, first)
    imports = pe.imports()
    for wanted_imports in args.imports_by_ordinal:
        dll, rng = wanted_imports.split(":")
        first, last = (int(x) for x in rng.split("-"))
        entries = next((v for k, v in imports.items() if k.lower() == dll.lower()), None)
        ok = entries is not None and all(isinstance(e, int) and first <= e <= last for e in entries)
        check(ok, "imports from %s by ordinal %d-%d" % (dll, first, last), "ordinals only", entries)
    if args.allowed_dlls:
        allowed = {d.lower() for d in args.allowed_dlls.split(",")}
        extra = sorted(d for d in imports if d.lower() not in allowed)
        check(not extra, "needs only allowed DLLs", sorted(allowed), sorted(imports))
    for unwanted in args.not_imported:
        dll, names = unwanted.split(":")
        entries = next((v for k, v in imports.items() if k.lower() == dll.lower()), [])
        found = sorted(n for n in names.split(",") if n in entries)
        check(not found, "does not import %s from %s" % (names, dll), "none", found)
    if args.version or args.string:
        info = pe.version_info()
        check(info is not None, "version resource present", "VS_VERSIONINFO", info)
        if info:
            version, strings = info
            if args.version:
                check(version == args.version, "file version", args.version, version)
            for kv in args.string:
                k, v = kv.split("=", 1)
                check(strings.get(k) == v, "version string %s" % k, v, strings.get(k))
    if args.execution_level:
        manifests = [blob.decode("utf-8", "replace") for t, n, _, blob in pe.resources() if t == 24 and n == 1]
        text = manifests[0] if manifests else ""
        check(len(manifests) == 1, "one embedded program manifest", 1, len(manifests))
        level = re.search(r'requestedExecutionLevel[^>]*\blevel="([^"]*)"', text)
        check(level is not None and level.group(1) == args.execution_level, "requested execution level",
              args.execution_level, level.group(1) if level else None)
        check("compatibility" not in text, "no compatibility section (the version seen stays the real one)",
              "none", "present" if "compatibility" in text else "none")
    print("pecheck: %d passed, %d failed" % (passes, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
