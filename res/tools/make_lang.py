#!/usr/bin/env python3
"""Writes res/lang/<language>.rc from texts.py: each language's string table
and page templates, in that language's ANSI code page, so that the resource
compiler converts them with #pragma code_page. Run it after changing a text;
the build uses the committed .rc files and needs no Python."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from texts import LANGUAGES, ENGLISH  # noqa: E402

STRING_NAMES = {
    1: "IDS_INSTALL_ERROR", 2: "IDS_NO_RESOURCE_FILE", 10: "IDS_ALREADY_INSTALLED",
    11: "IDS_BAD_SETUP_INF", 12: "IDS_BAD_MODEM_INF", 13: "IDS_INSTALL_TITLE",
    14: "IDS_NO_ACCESS", 15: "IDS_UNINSTALL_TITLE", 16: "IDS_ERROR_CAPTION",
    111: "IDS_WELCOME_TITLE", 112: "IDS_WELCOME_TEXT", 113: "IDS_WELCOME_NEXT",
    114: "IDS_DRIVER_TEXT", 116: "IDS_DRIVER_NEXT", 117: "IDS_SUCCESS_TEXT",
    119: "IDS_SUCCESS_FINISH", 120: "IDS_FAILURE_TEXT", 121: "IDS_FAILURE_BACK",
    122: "IDS_UNINSTALL_TEXT", 124: "IDS_UNINSTALL_NEXT", 125: "IDS_REPORT_TEXT",
    127: "IDS_REPORT_FINISH",
}

# Each page: template, text of 1000, text of 1002 (None: no such control,
# "" for the sunken frame around the driver list), text of 1001, extras.
PAGES = [
    ("IDD_INSTALL_WELCOME", 111, 112, 113, []),
    ("IDD_INSTALL_DRIVER", 114, "", 116, ["check", "list"]),
    ("IDD_INSTALL_SUCCESS", 117, None, 119, ["report"]),
    ("IDD_INSTALL_FAILURE", 120, None, 121, []),
    ("IDD_UNINSTALL_FIRST", 122, "", 124, ["list"]),
    ("IDD_UNINSTALL_REPORT", 125, None, 127, ["report"]),
]


def literal(text, code_page):
    """The text as a resource-script string in the code page's bytes."""
    data = text.encode("cp%d" % code_page)
    out = bytearray(b'"')
    for b in data:
        if b == 0x22:
            out += b'""'
        elif b == 0x5C:
            # Also a trail byte of double-byte characters: escaped, the
            # compiler reads it back as the one byte.
            out += b"\\\\"
        elif b == 0x0A:
            out += b"\\n"
        elif b < 0x20:
            raise ValueError("control character in %r" % text)
        else:
            out.append(b)
    out += b'"'
    return bytes(out)


def page(name, top, middle, bottom, extras, texts, cp):
    lines = [b"%s DIALOG 0, 0, 304, 172" % name.encode(),
             b"STYLE DS_MODALFRAME | WS_CHILD",
             b'FONT 8, "MS Sans Serif"',
             b"BEGIN",
             b"    CONTROL IDB_WIZARD, -1, CLASS_STATIC, WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, 105, 171"]
    top_pos = b"112, 6, 175, 32" if name == "IDD_INSTALL_DRIVER" else b"118, 4, 175, 32"
    lines.append(b"    LTEXT " + literal(texts[top], cp) + b", IDC_TOP_TEXT, " + top_pos)
    if middle == "":
        lines.append(b'    LTEXT "", IDC_MIDDLE_TEXT, 118, 50, 175, 80, WS_GROUP | WS_BORDER | SS_SUNKEN')
    elif middle is not None:
        lines.append(b"    LTEXT " + literal(texts[middle], cp) + b", IDC_MIDDLE_TEXT, 118, 50, 175, 80")
    lines.append(b"    LTEXT " + literal(texts[bottom], cp) + b", IDC_BOTTOM_TEXT, 118, 134, 175, 32")
    if "check" in extras:
        lines.append(b'    AUTOCHECKBOX "Check1", IDC_CHECK1, 143, 12, 41, 10')
    if "list" in extras:
        lines.append(b'    LTEXT "", IDC_DRIVER_LIST, 124, 56, 163, 68')
    if "report" in extras:
        lines.append(b'    LTEXT "", IDC_REPORT, 118, 50, 175, 80')
    lines.append(b"END")
    return b"\n".join(lines) + b"\n"


def write(directory, file_name, title, language, cp, texts):
    missing = set(ENGLISH) ^ set(texts)
    if missing:
        raise ValueError("%s: ids %s differ from English" % (title, sorted(missing)))
    out = bytearray()
    out += b"// %s texts of the setup program and its resource library, in code\n" % title.encode()
    out += b"// page %d. Written by res/tools/make_lang.py from res/tools/texts.py.\n" % cp
    out += b"#pragma code_page(%d)\n" % cp
    out += b"LANGUAGE %s\n\n" % language.encode()
    out += b"STRINGTABLE\nBEGIN\n"
    for sid in sorted(texts):
        out += b"    %-22s " % STRING_NAMES[sid].encode() + literal(texts[sid], cp) + b"\n"
    out += b"END\n"
    for p in PAGES:
        out += b"\n" + page(*p, texts, cp)
    with open(os.path.join(directory, file_name + ".rc"), "wb") as f:
        f.write(bytes(out))


def main():
    directory = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lang")
    os.makedirs(directory, exist_ok=True)
    for entry in LANGUAGES:
        write(directory, *entry)


if __name__ == "__main__":
    main()
