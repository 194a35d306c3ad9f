"""Writes the starting corpus of hive_log_fuzz: a small hive made dirty, behind
the byte of choices and the two lengths the target reads first, with logs of
both formats: entries in one log, entries split over two, a log left from an
older state, and an old-format dirty vector. The hive is the one hive_fuzz
starts from.

    make_log_corpus.py FOLDER"""

import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
MASK = 0xFFFFFFFF
KEY = 0x82EF4D887A4E55C5


def rotate(value, bits):
    return ((value << bits) | (value >> (32 - bits))) & MASK


def mix(low, high):
    high ^= low
    low = (rotate(low, 20) + high) & MASK
    high = rotate(high, 9) ^ low
    low = (rotate(low, 27) + high) & MASK
    return low, rotate(high, 19)


def marvin32(data):
    low, high = KEY & MASK, KEY >> 32
    whole = len(data) // 4 * 4
    for at in range(0, whole, 4):
        low, high = mix((low + struct.unpack_from("<I", data, at)[0]) & MASK, high)
    tail = data[whole:]
    last = 0x80 << (8 * len(tail))
    for i, byte in enumerate(tail):
        last |= byte << (8 * i)
    low, high = mix((low + last) & MASK, high)
    low, high = mix(low, high)
    return high << 32 | low


def mend(block):
    block = bytearray(block)
    plain = 0
    for at in range(0, 508, 4):
        plain ^= struct.unpack_from("<I", block, at)[0]
    struct.pack_into("<I", block, 508, {0: 1, MASK: MASK - 1}.get(plain, plain))
    return bytes(block)


def base(hive, sequence, file_type):
    block = bytearray(hive[:512])
    struct.pack_into("<II", block, 4, sequence, sequence)
    struct.pack_into("<I", block, 28, file_type)
    return mend(block)


def entry(sequence, bins):
    body = struct.pack("<II", 0, len(bins)) + bins
    size = (40 + len(body) + 511) // 512 * 512
    head = b"HvLE" + struct.pack("<IIIII", size, 0, sequence, len(bins), 1)
    body = body.ljust(size - 40, b"\0")
    head += struct.pack("<Q", marvin32(body))
    return head + struct.pack("<Q", marvin32(head)) + body


def dirty_vector(hive, sequence):
    bins = hive[4096:]
    vector = (b"DIRT" + b"\x01" + bytes(len(bins) // 4096 - 1)).ljust(512, b"\0")
    return base(hive, sequence, 1) + vector + bins[:512]


def case(hive, first, second=b""):
    return bytes([0]) + struct.pack("<II", len(hive), len(first)) + hive + first + second


def main():
    folder = pathlib.Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    clean = (HERE / "corpus" / "hive_fuzz" / "software").read_bytes()[1:]
    dirty = bytearray(clean)
    struct.pack_into("<I", dirty, 4, 8)  # primary 8, secondary 7
    dirty = mend(dirty[:512]) + bytes(dirty[512:])
    bins = dirty[4096:]
    cases = {
        "one-log": case(dirty, base(dirty, 7, 6) + entry(7, bins) + entry(8, bins)),
        "split": case(dirty, base(dirty, 9, 6) + entry(9, bins), base(dirty, 7, 6) + entry(7, bins)
                      + entry(8, bins)),
        "stale-second": case(dirty, base(dirty, 7, 6) + entry(7, bins), base(dirty, 3, 6)
                             + entry(3, bins)),
        "dirty-vector": case(dirty, dirty_vector(dirty, 7)),
    }
    for name, data in cases.items():
        (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
