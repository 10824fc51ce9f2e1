#!/usr/bin/env python3
"""Writes the benchmark input: random lines of 1 to 31 binary digits, each ended by CR LF.

The file is exactly SIZE bytes (by default 2,077,000, the largest input a run accepts) and the
last line ends exactly there. The generator is a fixed-seed SplitMix64, the same one that
bench_input.h uses, so that both produce the same bytes:

- while more than 66 bytes remain, a line takes 1 + (r % 31) digits for one draw r, and the
  digits are the low bits of the next draw r2, least significant first;
- the last 34 to 66 bytes become two lines of half the rest each (15 to 31 digits), drawn the
  same way.

Usage: make_input.py OUTPUT [SIZE]
"""

import sys

MASK = (1 << 64) - 1
SEED = 0x51756F7276616E65  # "Quorvane"
MAX_DIGITS = 31
DEFAULT_SIZE = 2_077_000


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)


def digits_line(rng, count):
    bits = rng.next()
    return bytes(0x30 + ((bits >> i) & 1) for i in range(count)) + b"\r\n"


def make_input(size):
    if size < 3:
        raise ValueError("the input needs room for at least one line of one digit")
    rng = SplitMix64(SEED)
    out = bytearray()
    remaining = size
    while remaining > 2 * (MAX_DIGITS + 2):
        count = 1 + rng.next() % MAX_DIGITS
        out += digits_line(rng, count)
        remaining -= count + 2
    # 34 to 66 bytes are left after a full-size run; a small SIZE may leave fewer.
    if remaining > MAX_DIGITS + 2:
        first = remaining // 2
        out += digits_line(rng, first - 2)
        remaining -= first
    out += digits_line(rng, remaining - 2)
    assert len(out) == size
    return bytes(out)


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__.split("\n\n")[-1] + "\n")
        return 2
    size = int(argv[2]) if len(argv) == 3 else DEFAULT_SIZE
    data = make_input(size)
    with open(argv[1], "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
