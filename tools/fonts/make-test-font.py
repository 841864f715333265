#!/usr/bin/python3
"""Writes a small TrueType font for tests, from a JSON description given as the second argument:

    make-test-font.py out.ttf '{"family": "VelkSquare", "upm": 1000, "glyphs": [...]}'

Keys (all optional but "glyphs"): family (a string, or {"en": ..., "ja": ...}), style, upm,
winAscent, winDescent, ascender, descender, lineGap, weight, italic, fixedPitch, avgWidth,
glyphs: [{"char": code or null, "name": "A", "advance": 600, "boxes": [[x0, y0, x1, y1], ...]}],
kern: [["A", "B", -100], ...], variants: [[base code, selector code, glyph name], ...].
Boxes are filled rectangles in font units, so glyphs whose edges lie on pixel boundaries render
to exact bitmaps."""
import json
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import newTable
from fontTools.ttLib.tables._k_e_r_n import KernTable_format_0


def glyph_of(boxes):
    pen = TTGlyphPen(None)
    for x0, y0, x1, y1 in boxes:
        # Clockwise: an outer TrueType contour.
        pen.moveTo((x0, y0))
        pen.lineTo((x0, y1))
        pen.lineTo((x1, y1))
        pen.lineTo((x1, y0))
        pen.closePath()
    return pen.glyph()


def main():
    out, desc = sys.argv[1], json.loads(sys.argv[2])
    upm = desc.get("upm", 1000)
    glyphs = [{"char": None, "name": ".notdef", "advance": upm // 2,
               "boxes": [[0, 0, upm // 2, upm // 2]]},
              {"char": 32, "name": "space", "advance": upm // 2, "boxes": []}]
    glyphs += desc["glyphs"]
    fb = FontBuilder(upm, isTTF=True)
    fb.setupGlyphOrder([g["name"] for g in glyphs])
    cmap = {g["char"]: g["name"] for g in glyphs if g.get("char") is not None}
    uvs = [tuple(v) for v in desc.get("variants", [])]
    fb.setupCharacterMap(cmap, uvs=uvs or None)
    fb.setupGlyf({g["name"]: glyph_of(g["boxes"]) for g in glyphs})
    metrics = {}
    for g in glyphs:
        lsb = min((b[0] for b in g["boxes"]), default=0)
        metrics[g["name"]] = (g["advance"], lsb)
    fb.setupHorizontalMetrics(metrics)
    ascender = desc.get("ascender", upm * 4 // 5)
    descender = desc.get("descender", -(upm - upm * 4 // 5))
    fb.setupHorizontalHeader(ascent=ascender, descent=descender, lineGap=desc.get("lineGap", 0))
    family = desc.get("family", "VelkTest")
    style = desc.get("style", "Regular")
    english = family["en"] if isinstance(family, dict) else family
    fb.setupNameTable({"familyName": family, "styleName": style,
                       "uniqueFontIdentifier": english + " " + style,
                       "fullName": family if style == "Regular" else english + " " + style,
                       "psName": english.replace(" ", "") + "-" + style.replace(" ", "")})
    italic = desc.get("italic", False)
    weight = desc.get("weight", 400)
    fs = (1 if italic else 0) | (0x20 if weight >= 700 else 0) | (0x40 if not italic and weight < 700 else 0)
    fb.setupOS2(usWinAscent=desc.get("winAscent", ascender),
                usWinDescent=desc.get("winDescent", -descender),
                sTypoAscender=ascender, sTypoDescender=descender,
                sTypoLineGap=desc.get("lineGap", 0), usWeightClass=weight, fsSelection=fs,
                xAvgCharWidth=desc.get("avgWidth", upm // 2))
    fb.setupPost(isFixedPitch=1 if desc.get("fixedPitch") else 0)
    if desc.get("kern"):
        kern = newTable("kern")
        kern.version = 0
        table = KernTable_format_0()
        table.format = 0
        table.version = 0
        table.coverage = 1
        table.kernTable = {(a, b): v for a, b, v in desc["kern"]}
        kern.kernTables = [table]
        fb.font["kern"] = kern
    fb.font["head"].macStyle = (1 if weight >= 700 else 0) | (2 if italic else 0)
    fb.save(out)


if __name__ == "__main__":
    main()
