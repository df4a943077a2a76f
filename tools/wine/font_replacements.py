#!/usr/bin/env python3
"""Writes a registry file that maps the Japanese Windows faces to the IPA fonts under Wine."""
import sys

REPLACEMENTS = {
    "ＭＳ Ｐゴシック": "IPAPGothic",
    "ＭＳ ゴシック": "IPAGothic",
    "MS PGothic": "IPAPGothic",
    "MS Gothic": "IPAGothic",
}

lines = ["Windows Registry Editor Version 5.00", "",
         r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
lines += ['"%s"="%s"' % (face, font) for face, font in REPLACEMENTS.items()]
with open(sys.argv[1], "w", encoding="utf-16") as out:  # utf-16 writes the BOM regedit expects
    out.write("\r\n".join(lines) + "\r\n")
