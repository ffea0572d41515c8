#!/usr/bin/env python3
"""Writes the hand-built seed inputs of the fuzz targets into fuzz/corpus/.

Each seed is a small binary event stream: a version record and one record of
every code, in the framing of versions 0, 1 and 3. The decoder target reads
one leading byte that chooses its block sizes; the others read the stream as
it is. scripts/make_fuzz_seeds.sh runs this and adds small synthesized files.
"""
import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack('>B', v)
def u16(v): return struct.pack('>H', v)
def u32(v): return struct.pack('>I', v)
def u64(v): return struct.pack('>Q', v)
def a12(v): return b'\0\0\0\0' + u64(v)
def text(s): return u16(len(s) + 1) + s + b'\0'
def access(pc, addr, time, stack, thread, size, kind):
    return u64(pc) + u64(addr) + u64(time) + u32(stack) + u32(thread) + u16(size) + u8(kind)


def payloads():
    begin = access(0x1000, 0x2000, 5, 2, 1, 8, 0)
    end = access(0x1010, 0x2000, 9, 4, 2, 4, 1)
    return [
        (0, a12(0x1000) + a12(0x2000) + u32(3) + u16(8)),
        (1, a12(0x1000) + a12(0x2000) + u32(3) + u16(8)),
        (5, a12(0x1000) + a12(0x2000) + u32(3) + u16(8)),
        (6, u64(1700000000000000000) + u32(1) + u32(2) + text(b'ls') + text(b'-l') + text(b'bob')
            + u8(2) + u8(6) + u8(7)),
        (4, u32(10000)),
        (8, u64(0x400000) + u64(4096) + u32(5) + u64(2049) + u64(1234) + u64(0) + text(b'/bin/ls')
            + u64(42)),
        (10, u32(7) + u16(2) + u64(0x1000) + u64(0x1004)),
        (2, a12(0x1000) + a12(0x2000) + u64(5) + u32(3) + u64(9) + u8(1) + u16(8) + u8(6)
            + a12(0x1004)),
        (3, a12(0x1000) + a12(0x2000) + u64(6) + u32(3) + u64(9) + u8(0) + u16(4) + u64(77)),
        (11, u64(0x2000) + u64(0x2008) + u64(5) + u64(9) + u64(0x1000) + u64(0x1004) + u64(0x1010)
            + u32(2) + u32(3) + u32(4) + u32(1) + u32(2) + u16(8) + u16(4) + u8(0) + u8(1) + u8(6)
            + u32(2) + end),
        (12, u64(0x2000) + u64(5) + u64(0x1000) + u64(0x1004) + u32(2) + u32(3) + u32(1) + u16(8)
            + u8(10) + u8(7)),
        (13, u16(2) + u64(10) + u32(1) + u64(20) + u32(2)),
        (14, u64(1000) + u64(5) + u64(1) + u64(2)),
        (15, u64(2000) + u64(6)),
        (16, begin + u64(0x1004) + u32(3) + u8(6) + u8(1) + u32(2) + end + end),
        (17, u32(2) + u32(1) + u32(2)),
        (18, u64(0x400000) + u64(4096) + u64(9)),
        (19, u32(3) + u64(100) + u64(90)),
        (7, u64(1700000001000000000)),
    ]


def stream(version):
    long_header = version >= 2
    out = u8(9)
    version_payload = u32(version) + u32(1) + text(b'r1') + u64(7)
    out += u16(len(version_payload)) + version_payload
    for code, payload in payloads():
        out += u8(code) + (u32(len(payload)) if long_header else u16(len(payload))) + payload
    return out


def provider_tail(values):
    """The trailing bytes from which FuzzedDataProvider reads the integers
    (value, byte count) in this order: it reads from the end, most
    significant byte first."""
    tail = []
    for value, size in values:
        for i in reversed(range(size)):
            tail.append((value >> (8 * i)) & 0xff)
    return bytes(reversed(tail))


def inflate_diff_seeds():
    """Seeds of fuzz_inflate_diff: payloads that the target wraps into zlib
    streams of some 60 KiB of output (mode bit 0, then the damage in bits 1
    and 2), and ready-made streams it takes as they are."""
    rng = random.Random(5)
    text = b''.join(b'pc=%d addr=%d t=%d\n' % (rng.randrange(4096), rng.randrange(10**5), i)
                    for i in range(80))
    seeds = {}
    for name, damage, spot in (('wrap', 0, 0), ('wrap_flipped', 1, 0x20000abc),
                               ('wrap_cut', 2, 2000), ('wrap_trailing', 3, 0x600001f0)):
        tail = provider_tail([(1 | damage << 1, 1), (4095, 2), (17, 4), (6, 1), (0, 1),
                              (30, 1), (99, 4), (spot, 4), (spot * 7 + 3, 4), (spot + 11, 4),
                              (9, 1)])
        seeds[name] = text + tail
    long_text = b''.join(b'pc=%d t=%d\n' % (rng.randrange(64), i) for i in range(3000))
    for name, stream in (('raw_long', zlib.compress(long_text, 9)),
                         ('raw_dictionary', bytes.fromhex('78bb000000014b0400')),
                         ('raw_gzip', bytes.fromhex('1f8b0800000000000003')),
                         ('raw_short', zlib.compress(b'hello, hello, hello'))):
        seeds[name] = stream + provider_tail([(0, 1), (700, 2), (3, 4)])
    return seeds


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def main():
    for version in (0, 1, 3):
        s = stream(version)
        write('fuzz_decoder', 'v%d_whole' % version, b'\0' + s)
        write('fuzz_decoder', 'v%d_blocks' % version, b'\x07' + s)
        write('fuzz_round_trip', 'v%d' % version, s)
        header = b'VELKOR' + u16(12) + u8(1) + u8(1) + u8(0) + u8(0)
        write('fuzz_sample_stats', 'v%d_raw' % version, header + s)
    deflated = b'VELKOR' + u16(12) + u8(1) + u8(1) + u8(0) + u8(1)
    write('fuzz_sample_stats', 'v3_deflated', deflated + zlib.compress(stream(3)))
    write('fuzz_sample_stats', 'v1_legacy', zlib.compress(stream(1)))
    for name, data in inflate_diff_seeds().items():
        write('fuzz_inflate_diff', name, data)


if __name__ == '__main__':
    main()
