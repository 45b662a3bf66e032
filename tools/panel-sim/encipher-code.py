#!/usr/bin/env python3
"""Enciphers a product-link code for src/link/AccessCodes.cpp.

Usage: encipher-code.py KEY  (the plain code is read from standard input, without a newline)
KEY is the 16-bit key in hexadecimal. Prints the cipher text as hexadecimal digits. The plain code
is never written anywhere; keep it out of the repository.
"""
import sys

M = 0x3A6D  # must match kCodeMultiplier in AccessCodes.cpp
A = 0x5C29  # must match kCodeIncrement


def encipher(plain: bytes, key: int) -> str:
    k = key & 0xFFFF
    out = []
    for p in plain:
        c = p ^ (k >> 8)
        out.append(c)
        k = ((k + c) * M + A) & 0xFFFF
    return "".join(f"{c:02X}" for c in out)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    print(encipher(sys.stdin.buffer.read(), int(sys.argv[1], 16)))
