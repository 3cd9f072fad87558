#!/usr/bin/env python3
"""Prints what a person saw in a run in one normal form, for comparing a
simulated machine's run with Wine's: the desk's transcript (JSON lines, as
ntsim run --transcript and WINDESK.EXE write them) as one line a box or
page, numbered in the order shown within its window title (so the order
of one window's boxes and pages is compared, while two processes' windows
may interleave either way), and the program's log (SETUP.TXT) as one line
a log line, counted per text, so that a line found on one side only shows
as itself and not as a shift of all the lines after it (process ids and
handle values in it written as <pid> and <handle>).

With --order REGEX the log lines REGEX finds are printed once more, each
with the one before it, `ORDER PREVIOUS >> LINE` (`(start)` before the
first): a reordering changes these pairs, where the counted lines stay.

Usage: desknorm.py [--order REGEX] TRANSCRIPT [LOG]"""
import json
import re
import sys


def shown(path):
    counts = {}
    for raw in open(path, encoding="utf-8"):
        raw = raw.strip()
        if not raw:
            continue
        entry = json.loads(raw)
        event = entry.get("event")
        # What the simulated machine notes of calls and of each process's
        # end, which WINDESK.EXE has no way to see.
        if event in ("process", "device-install", "exit", "unanswered"):
            continue
        if event == "page":
            title = entry.get("title", "")
            key = "page"
            what = "PAGE %s" % entry.get("template")
        elif event == "prompt":
            title = entry.get("caption", "")
            key = "prompt"
            text = entry.get("text", "").replace("\r\n", "\n").replace("\n", "\\n")
            what = "PROMPT %s %s: %s" % (entry.get("kind"), title, text)
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


# What the machine chooses anew each run: process ids in the names of
# events, handle values.
CHOICES = [(re.compile(r"push-me[0-9a-f]+"), "push-me<pid>"),
           (re.compile(r"^(waiting for|FindOurControlClass returning key) [0-9a-f]+$"), r"\1 <handle>")]


def log(path, order):
    counts = {}
    previous = "(start)"
    raw = open(path, "rb").read().decode("cp1252", errors="replace")
    for line in raw.splitlines():
        line = line.rstrip()
        if not line:
            continue
        for pattern, replacement in CHOICES:
            line = pattern.sub(replacement, line)
        n = counts.get(line, 0) + 1
        counts[line] = n
        print("LOG %s%s" % (line, "" if n == 1 else " #%d" % n))
        if order and order.search(line):
            print("ORDER %s >> %s" % (previous, line))
            previous = line


args = sys.argv[1:]
order = None
if args[:1] == ["--order"] and len(args) > 1:
    order = re.compile(args[1])
    args = args[2:]
if not args:
    sys.exit(__doc__)
shown(args[0])
if len(args) > 1:
    try:
        log(args[1], order)
    except FileNotFoundError:
        print("LOG (none)")
