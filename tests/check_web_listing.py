#!/usr/bin/env python3
"""Checks an HTML and a JSON file listing written for the same areas: each
must parse with a real parser (html5lib, strict: any parse error fails), the
JSON must have the listing's shape, and both must list the same areas, files
and description lines. A file named ALLBYTES.TXT must hold, line by line,
bytes 1-255 in four parts, each followed by 0xDB, drawn as code page 437
(CR and LF kept as line breaks).
Prints one line per area: number, name, file count.
Usage: check_web_listing.py HTML JSON"""
import json
import re
import sys

import html5lib

NS = "{http://www.w3.org/1999/xhtml}"
# What DOS drew for the control bytes 0x01-0x1F and 0x7F.
DOS_CONTROLS = ("\u263a\u263b\u2665\u2666\u2663\u2660\u2022\u25d8\u25cb"
                "\u25d9\u2642\u2640\u266a\u266b\u263c\u25ba\u25c4\u2195"
                "\u203c\u00b6\u00a7\u25ac\u21a8\u2191\u2193\u2192\u2190"
                "\u221f\u2194\u25b2\u25bc")


def dos_text(data):
    out = []
    for b in data:
        if b in (0x0A, 0x0D):
            out.append(chr(b))
        elif 1 <= b < 0x20:
            out.append(DOS_CONTROLS[b - 1])
        elif b == 0x7F:
            out.append("\u2302")
        else:
            out.append(bytes([b]).decode("cp437"))
    return "".join(out)


def html_form(text):
    """What HTML can hold of a text: line breaks, control pictures, U+FFFD."""
    out = []
    for ch in text:
        c = ord(ch)
        if ch in "\r\n":
            out.append(ch)
        elif c < 0x20:
            out.append(chr(0x2400 + c))
        elif c == 0x7F:
            out.append("\u2421")
        elif 0x80 <= c < 0xA0 or 0xFDD0 <= c <= 0xFDEF or c & 0xFFFE == 0xFFFE:
            out.append("\ufffd")
        else:
            out.append(ch)
    return "".join(out)


def parsed(text):
    """A text as an HTML parser reads it: every CR LF or CR is one LF."""
    return text.replace("\r\n", "\n").replace("\r", "\n")


def text_of(element):
    return "".join(element.itertext())


def fail(message):
    print("check_web_listing: " + message, file=sys.stderr)
    sys.exit(1)


def read_html(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"<!DOCTYPE html>"):
        fail("no HTML5 doctype")
    parser = html5lib.HTMLParser(strict=True)
    try:
        root = parser.parse(data, transport_encoding="utf-8")
    except Exception as error:  # html5lib raises ParseError
        fail("HTML parse error: %s %s" % (error, parser.errors[:3]))
    if root.get("lang") is None:
        fail("no lang attribute")
    head = root.find(NS + "head")
    metas = head.findall(NS + "meta")
    if not any(m.get("charset", "").lower() == "utf-8" for m in metas):
        fail("no UTF-8 charset declaration")
    if not any(m.get("name") == "viewport" for m in metas):
        fail("no viewport for phones")
    areas = []
    for section in root.iter(NS + "section"):
        name = text_of(section.find(NS + "h2"))
        files = []
        for row in section.find(NS + "table").find(NS + "tbody"):
            cells = [text_of(td) for td in row]
            if len(cells) == 1:
                continue  # "No files"
            files.append(cells)
        areas.append((int(section.get("id").split("-")[1]), name, files))
    return areas


def read_json(path):
    with open(path, "rb") as f:
        document = json.loads(f.read().decode("utf-8", errors="strict"))
    if list(document) != ["areas"]:
        fail("JSON top level is not {\"areas\": [...]}")
    time_form = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
    for area in document["areas"]:
        if list(area) != ["number", "name", "files"]:
            fail("area keys %s" % list(area))
        for f in area["files"]:
            if list(f) != ["name", "size", "time", "description"]:
                fail("file keys %s" % list(f))
            if not isinstance(f["size"], int) or not time_form.match(f["time"]):
                fail("size or time of %s" % f["name"])
            if not all(isinstance(line, str) for line in f["description"]):
                fail("description of %s" % f["name"])
    return document["areas"]


def main():
    html_areas = read_html(sys.argv[1])
    json_areas = read_json(sys.argv[2])
    if len(html_areas) != len(json_areas):
        fail("%d HTML areas, %d JSON areas" % (len(html_areas), len(json_areas)))
    all_bytes = bytes(range(1, 256))
    expected_lines = [dos_text(all_bytes[i:i + 64] + b"\xdb")
                      for i in range(0, 255, 64)]
    for (number, name, rows), area in zip(html_areas, json_areas):
        if number != area["number"] or name != parsed(html_form(area["name"])):
            fail("area %r differs from %r" % (name, area["name"]))
        if len(rows) != len(area["files"]):
            fail("file count of area %d" % number)
        for row, f in zip(rows, area["files"]):
            wanted = [parsed(html_form(f["name"])), str(f["size"]),
                      f["time"][:10], parsed("\n".join(
                          html_form(line) for line in f["description"]))]
            if row != wanted:
                fail("row %r differs from %r" % (row, wanted))
            if f["name"] == "ALLBYTES.TXT" and f["description"] != expected_lines:
                fail("code page 437: %r" % f["description"])
        print(number, area["name"], len(area["files"]))


main()
