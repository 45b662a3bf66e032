#!/usr/bin/env python3
"""Whether a flash dump (from 0x08000000) holds every byte an Intel HEX file gives.

  flash-matches-hex.py FILE.hex FLASH.bin    exit 0 when it does, 1 with the first difference
"""
import sys

BASE = 0x08000000


def hex_bytes(path):
    data = {}
    upper = 0
    with open(path, "rb") as f:
        for raw in f:
            line = raw.strip()
            if not line.startswith(b":"):
                continue
            rec = bytes.fromhex(line[1:].decode("ascii"))
            count, addr, kind = rec[0], (rec[1] << 8) | rec[2], rec[3]
            if kind == 0:
                for i in range(count):
                    data[(upper << 16) + addr + i] = rec[4 + i]
            elif kind == 4:
                upper = (rec[4] << 8) | rec[5]
            elif kind == 1:
                break
    return data


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    want = hex_bytes(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        flash = f.read()
    for addr in sorted(want):
        off = addr - BASE
        if off < 0 or off >= len(flash) or flash[off] != want[addr]:
            got = "nothing" if off < 0 or off >= len(flash) else "%02X" % flash[off]
            print("flash differs at %08X: file %02X, flash %s" % (addr, want[addr], got), file=sys.stderr)
            return 1
    print("flash holds all %d bytes of the file" % len(want))
    return 0


if __name__ == "__main__":
    sys.exit(main())
