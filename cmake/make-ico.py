#!/usr/bin/env python3
"""An icon file (.ico) holding one PNG picture: make-ico.py IN.png OUT.ico"""
import struct
import sys

png = open(sys.argv[1], "rb").read()
width, height = struct.unpack(">II", png[16:24])
entry = struct.pack("<BBBBHHII", width if width < 256 else 0, height if height < 256 else 0, 0, 0, 1, 32, len(png), 22)
open(sys.argv[2], "wb").write(struct.pack("<HHH", 0, 1, 1) + entry + png)
