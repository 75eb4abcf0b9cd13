#!/usr/bin/env python3
"""Writes a sigrok session of the board's wire, for timing varkel-check on
large sessions: the program's nine frames once a second, 8-bit, MSB first,
clock idle low, 700 ns a bit, each frame in a select pulse of its own.

Usage: bench/make_session.py OUT.sr [--seconds N] [--rate HZ] [--busy] [--entry-bytes N]
Default: 10 s at 100 MHz, one thousand million samples (1 GB unpacked), in
logic entries of 4 MiB; --entry-bytes 4096 writes one entry a packet, as
sigrok-cli does.
--busy sends the message back to back, all the time: the decoder's worst
case (it is no longer the program's wire, and does not match).
Refuses to write over a file that exists.
"""
import argparse
import os
import sys
import zipfile

MESSAGE = b"ZEL NSSP\x00"
BIT_S = 700e-9
SCLK, SFRM, TXD = 1, 2, 4  # channel bits in each sample byte


def one_second(rate, busy):
    """One second of samples: a message at 1 ms, idle after."""
    out = bytearray()
    idle = SFRM
    half = round(BIT_S * rate / 2)
    out += bytes([idle]) * round(1e-3 * rate)
    start = len(out)
    for byte in MESSAGE:
        for i in range(8):
            bit = TXD if byte >> (7 - i) & 1 else 0
            out += bytes([bit]) * half  # data set, clock low, select active
            out += bytes([bit | SCLK]) * half
        out += bytes([idle]) * (4 * half)
    if busy:
        out += out[start:] * ((rate - len(out)) // (len(out) - start) + 1)
    out += bytes([idle]) * max(0, rate - len(out))
    return bytes(out[:rate])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--rate", type=int, default=100_000_000)
    parser.add_argument("--busy", action="store_true")
    parser.add_argument("--entry-bytes", type=int, default=4 << 20)
    args = parser.parse_args()
    if not 1 <= args.seconds <= 100 or not 2_000_000 <= args.rate <= 1_000_000_000:
        sys.exit("make_session: --seconds 1 to 100, --rate 2e6 to 1e9")
    if not 1024 <= args.entry_bytes <= 64 << 20:
        sys.exit("make_session: --entry-bytes 1024 to 64 MiB")
    if os.path.lexists(args.out):
        sys.exit(f"make_session: {args.out} exists; not written over")
    second = one_second(args.rate, args.busy)
    metadata = (
        "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=3\n"
        f"samplerate={args.rate // 1_000_000} MHz\ntotal analog=0\nprobe1=sclk\nprobe2=sfrm\n"
        "probe3=txd\nunitsize=1\n"
    )
    part = args.out + ".part"
    with zipfile.ZipFile(part, "x", zipfile.ZIP_DEFLATED) as z:
        z.writestr("version", "2")
        z.writestr("metadata", metadata)
        entry = 1
        for _ in range(args.seconds):
            for at in range(0, len(second), args.entry_bytes):
                z.writestr(f"logic-1-{entry}", second[at : at + args.entry_bytes])
                entry += 1
    os.rename(part, args.out)


if __name__ == "__main__":
    main()
