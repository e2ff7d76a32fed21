#!/usr/bin/env python3
"""Checks pages gpcl6 rendered (PGM at 50 dpi, A4) of a two-page job printed over the
letterhead of printer_app_web_test.sh: a light grey band from 650 to 750 points with the
company's name above it, under the document's black text at 690 points.

On every page the band must be there (its grey covers the band's rows), the company's
name must be there, and the document's text must be black inside the band: had the
letterhead been played over the page, its band would cover the text.

Usage: letterhead_on_pages.py PAGE.pgm...
"""
import sys


def load(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while data[end:end + 1] not in (b" ", b"\n", b"\t", b"\r"):
            end += 1
        if end > at:
            fields.append(data[at:end])
        at = end + 1
    return int(fields[1]), int(fields[2]), data[at:]


def count(pixels, width, rows, columns, test):
    return sum(1 for y in range(*rows) for x in range(*columns) if test(pixels[y * width + x]))


def main():
    pages = sys.argv[1:]
    if len(pages) != 2:
        raise RuntimeError(f"{len(pages)} pages, not 2")
    for number, page in enumerate(pages, 1):
        width, height, pixels = load(page)
        # At 50 dpi the band lies in rows 64 to 133, the text in rows 92 to 106 from x 50,
        # the company's name in rows 22 to 45.
        band = count(pixels, width, (70, 128), (0, width), lambda v: 150 < v < 235)
        text = count(pixels, width, (88, 112), (45, 330), lambda v: v < 80)
        name = count(pixels, width, (15, 50), (30, 300), lambda v: v < 80)
        if band < 0.8 * 58 * width:
            raise RuntimeError(f"page {number}: no letterhead band ({band} grey pixels)")
        if name < 200:
            raise RuntimeError(f"page {number}: no company name ({name} black pixels)")
        if text < 200:
            raise RuntimeError(f"page {number}: the document's text is not over the letterhead ({text} black pixels)")
    print("the letterhead lies under the text on both pages")


if __name__ == "__main__":
    try:
        main()
    except Exception as error:
        print(f"pages: {error}", file=sys.stderr)
        sys.exit(1)
