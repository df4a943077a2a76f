#!/usr/bin/env python3
"""Writes a registry file that maps the Japanese Windows faces to the IPA fonts under Wine."""
import sys


def multi_sz(text):
    """REG_MULTI_SZ in the hex(7) notation of registry files: UTF-16LE, double terminated."""
    data = (text + "\0\0").encode("utf-16-le")
    return ",".join("%02x" % b for b in data)

REPLACEMENTS = {
    "ＭＳ Ｐゴシック": "IPAPGothic",
    "ＭＳ ゴシック": "IPAGothic",
    "MS PGothic": "IPAPGothic",
    "MS Gothic": "IPAGothic",
    "MS UI Gothic": "IPAPGothic",
}

# Faces Wine draws captions, menus and message boxes with: Japanese text falls back to the IPA
# font through font linking instead of showing empty boxes.
LINKED_FACES = ["Tahoma", "MS Sans Serif", "Microsoft Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2"]
LINK = "ipagp.ttf,IPAPGothic"

lines = ["Windows Registry Editor Version 5.00", "",
         r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
lines += ['"%s"="%s"' % (face, font) for face, font in REPLACEMENTS.items()]
lines += ["", r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]"]
lines += ['"%s"=hex(7):%s' % (face, multi_sz(LINK)) for face in LINKED_FACES]
with open(sys.argv[1], "w", encoding="utf-16") as out:  # utf-16 writes the BOM regedit expects
    out.write("\r\n".join(lines) + "\r\n")
