#!/usr/bin/env python3
"""Writes sample.bin for the frame parser: good frames, one with a bad checksum, one with a bad
length, a little noise, and a frame that straddles the 64-byte boundary, so that feeding the file
in chunks of 64 bytes splits it across two data calls.

Usage: make_sample.py [output]   (default: sample.bin beside this script)
"""
import os
import struct
import sys

START = 0x7E


def crc8(data):
    """CRC-8, polynomial 0x07, initial value 0: the frame checksum."""
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


def frame(channel, sequence, samples):
    payload = bytes([channel, sequence]) + b"".join(struct.pack("<h", s) for s in samples)
    body = bytes([len(payload)]) + payload
    return bytes([START]) + body + bytes([crc8(body)])


def build():
    out = bytearray()
    out += frame(1, 0, [215, -40])            # temperature 21.5, -4.0 (tenths)
    out += frame(2, 0, [1013])                # pressure
    out += b"\x00\x13\x37"                     # noise before the next start byte
    bad = bytearray(frame(1, 1, [216, -41]))
    bad[-1] ^= 0x5A                            # bad checksum: logged and skipped
    out += bad
    out += bytes([START, 0x41, 0x01, 0x02])    # bad length (65): logged and skipped
    # Pad so that the next frame starts 6 bytes before the 64-byte boundary: it is split.
    split = frame(3, 0, [100, 200, 300, 400])
    while len(out) % 64 != 64 - 6:
        out += b"\x00"
    out += split
    out += frame(1, 2, [217, -39])
    out += frame(2, 1, [1012])
    return bytes(out)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "sample.bin")
    with open(path, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
