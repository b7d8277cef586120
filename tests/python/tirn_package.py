"""The package format for test scripts: the block scrambling that tirn-pack
applies, and a whole package to append after a launcher image."""
import struct

SEED, BLOCK = 0xB7, 40960


def scramble(data):
    out = bytearray(data)
    for start in range(0, len(out), BLOCK):
        length = min(BLOCK, len(out) - start)
        key = (length & 0xFF) ^ SEED
        for i in range(length):
            b = out[start + i]
            k = key & 0xFF
            if i % 4 == 0:
                b ^= k
            elif i % 4 == 1:
                b = (b + k) & 0xFF
            elif i % 4 == 2:
                b = ~b & 0xFF
            else:
                r = k % 8
                b = ((b << r) | (b >> (8 - r))) & 0xFF
            out[start + i] = b
            key += 1
    return bytes(out)


def package(cabinet, version):
    """Trailer and scrambled payload for a cabinet's bytes."""
    return b"TIRS" + struct.pack("<III", version, len(cabinet), 0) + scramble(cabinet)


def checksum(data, seed=0):
    """The cabinet checksum of data: little-endian words XORed, the 1 to 3
    bytes left over taken first byte highest."""
    value = seed
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        value ^= word
    rest = 0
    for b in data[whole:]:
        rest = rest << 8 | b
    return value ^ rest


def data_block_checksum(data, uncompressed_size):
    """The checksum a data block's header stores: over its data, then over its
    two size fields."""
    return checksum(struct.pack("<HH", len(data), uncompressed_size), checksum(data))
