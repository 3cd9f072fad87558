#!/usr/bin/env python3
"""Prints a registry export (REGEDIT4 or version 5.00, any encoding the
editors write) in one normal form: one line a value, `KEY\\NAME = TYPE:DATA`,
keys and names upper-cased, sorted, strings decoded, the Windows directory
written %SystemRoot%. A key without values prints as `KEY\\`. Comments (the
simulator's SDDL lines) are dropped."""
import re
import sys

TYPES = {"": "REG_BINARY", "0": "REG_NONE", "1": "REG_SZ", "2": "REG_EXPAND_SZ", "3": "REG_BINARY",
         "4": "REG_DWORD", "7": "REG_MULTI_SZ"}


def read_text(path):
    raw = open(path, "rb").read()
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le"), True
    text = raw.decode("cp1252", errors="replace")
    return text, not text.startswith("REGEDIT4")


def logical_lines(text):
    line = ""
    for part in text.splitlines():
        if line and part.startswith("  "):
            part = part.strip()
        line += part
        if line.endswith("\\") and not line.rstrip().endswith('"'):
            line = line[:-1]
            continue
        yield line
        line = ""
    if line:
        yield line


def unquote(s):
    return s.replace('\\"', '"').replace("\\\\", "\\")


def decode_hex(kind, body, wide):
    data = bytes(int(b, 16) for b in body.split(",") if b.strip())
    if kind in ("2", "7", "1"):
        text = data.decode("utf-16-le" if wide else "cp1252", errors="replace")
        if kind == "7":
            return "|".join(s for s in text.split("\0") if s or False)
        return text.rstrip("\0")
    return data.hex()


def system_root(text):
    return re.sub(r"(?i)c:\\(windows|winnt)", "%SystemRoot%", text)


def normal_form(path):
    text, wide = read_text(path)
    out = []
    key = None
    values = 0
    for line in logical_lines(text):
        s = line.strip()
        if not s or s.startswith(";") or s.startswith("REGEDIT4") or s.startswith("Windows Registry Editor"):
            continue
        if s.startswith("["):
            if key is not None and values == 0:
                out.append(key + "\\")
            key = s[1:s.rindex("]")].upper()
            values = 0
            continue
        m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', s)
        if not m or key is None:
            continue
        name = "@" if m.group(1) == "@" else unquote(m.group(1)[1:-1])
        data = m.group(2)
        if data.startswith('"'):
            kind, value = "REG_SZ", unquote(data[1:-1])
        elif data.startswith("dword:"):
            kind, value = "REG_DWORD", str(int(data[6:], 16))
        else:
            hm = re.match(r"^hex(?:\((\w+)\))?:(.*)$", data)
            if not hm:
                continue
            code = hm.group(1) or ""
            kind = TYPES.get(code, "REG_TYPE_" + code)
            value = decode_hex(code, hm.group(2), wide)
            if code == "4" and len(value) == 8:
                value = str(int.from_bytes(bytes.fromhex(value), "little"))
        values += 1
        out.append("%s\\%s = %s:%s" % (key, name.upper(), kind, system_root(value)))
    if key is not None and values == 0:
        out.append(key + "\\")
    return sorted(out)


if __name__ == "__main__":
    for line in normal_form(sys.argv[1]):
        print(line)
