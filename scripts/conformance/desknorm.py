#!/usr/bin/env python3
"""Prints what a person saw in a run in one normal form, for comparing a
simulated machine's run with Wine's: the desk's transcript (JSON lines, as
ntsim run --transcript and WINDESK.EXE write them) as one line a box or
page in the order shown, counted per window title so that two processes'
windows may interleave either way, and the program's log (SETUP.TXT) as
one line a log line, counted per text, so that a line found on one side
only shows as itself and not as a shift of all the lines after it.

Usage: desknorm.py TRANSCRIPT [LOG]"""
import json
import sys


def shown(path):
    counts = {}
    for raw in open(path, encoding="utf-8"):
        raw = raw.strip()
        if not raw:
            continue
        entry = json.loads(raw)
        event = entry.get("event")
        if event == "page":
            title = entry.get("title", "")
            key = "page"
            what = "PAGE %s" % entry.get("template")
        elif event == "messagebox":
            title = entry.get("caption", "")
            key = "box " + title
            text = entry.get("text", "").replace("\r\n", "\n").replace("\n", "\\n")
            what = "BOX %s: %s STYLE=%s" % (title, text, entry.get("style"))
        else:
            title, key, what = "", event, event.upper()
        # The applet's page belongs to its own process: it is counted apart.
        if event == "page" and title.lower() == "country settings":
            key = "applet page"
        n = counts.get(key, 0) + 1
        counts[key] = n
        print("SHOWN %s %d %s ANSWER=%s" % (key.upper(), n, what, entry.get("answer")))
        if event == "page":
            print("TITLE %s" % title)
            for control in entry.get("controls", []):
                text = control.get("text", "").strip().replace("\r\n", "\n").replace("\n", "\\n")
                if control.get("visible") and text:
                    print("TEXT %s %d %s" % (entry.get("template"), control.get("id"), text))
                for item in control.get("items", []) if control.get("visible") else []:
                    print("ITEM %s %d %s" % (entry.get("template"), control.get("id"), item))


def log(path):
    counts = {}
    raw = open(path, "rb").read().decode("cp1252", errors="replace")
    for line in raw.splitlines():
        line = line.rstrip()
        if not line:
            continue
        n = counts.get(line, 0) + 1
        counts[line] = n
        print("LOG %s%s" % (line, "" if n == 1 else " #%d" % n))


shown(sys.argv[1])
if len(sys.argv) > 2:
    try:
        log(sys.argv[2])
    except FileNotFoundError:
        print("LOG (none)")
