#!/usr/bin/env python3
"""Writes tests/data/encoded_file.vec: known-answer encoded files computed independently of the
C++ code, from the description in docs/FORMAT.md (cipher, header, padding, triple encryption,
trailer with key check and file tag, in both versions; Poly1305 written out here from RFC 8439
and checked against its test vector). It also reads every file back with a reader that knows
nothing of the trailer, as earlier versions and other programs do, and checks it gets the input.

Run from the repository root: python3 tests/cipher/make_encoded_vectors.py
"""

import hashlib
import hmac

M64 = (1 << 64) - 1
TAG_CHUNK = 1 << 20
MAGICS = {1: b"QVTAG01\n", 2: b"QVTAG02\n"}


def fnv1a(text):
    h = 0xCBF29CE484222325
    for c in text.encode():
        h = ((h ^ c) * 0x100000001B3) & M64
    return h


class SplitMix:
    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & M64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M64
        return z ^ (z >> 31)


def draw_table(text):
    g = SplitMix(fnv1a(text))
    rows = []
    for _ in range(8):
        p = list(range(16))
        for i in range(15, 0, -1):
            j = g.next() % (i + 1)
            p[i], p[j] = p[j], p[i]
        rows.append(p)
    return rows


def draw_key(text):
    g = SplitMix(fnv1a(text))
    return [g.next() & 0xFFFFFFFF for _ in range(8)]


def round_value(x, rows):
    s = 0
    for r in range(8):
        s |= rows[r][(x >> (4 * r)) & 15] << (4 * r)
    return ((s << 11) | (s >> 21)) & 0xFFFFFFFF


def encrypt_block(n1, n2, key, rows):
    schedule = list(range(8)) * 3 + list(range(7, -1, -1))
    for j, k in enumerate(schedule):
        if j % 2 == 0:
            n2 ^= round_value((n1 + key[k]) & 0xFFFFFFFF, rows)
        else:
            n1 ^= round_value((n2 + key[k]) & 0xFFFFFFFF, rows)
    return n2, n1  # word 0, word 1


def decrypt_block(w0, w1, key, rows):
    schedule = list(range(8)) + list(range(7, -1, -1)) * 3
    n1, n2 = w0, w1
    for j, k in enumerate(schedule):
        if j % 2 == 0:
            n2 ^= round_value((n1 + key[k]) & 0xFFFFFFFF, rows)
        else:
            n1 ^= round_value((n2 + key[k]) & 0xFFFFFFFF, rows)
    return n2, n1


def table_bytes(rows):
    return bytes(v for row in rows for v in row)


def poly1305(key, message):
    """Poly1305 (RFC 8439, section 2.5): r clamped, s added at the end."""
    r = int.from_bytes(key[:16], "little") & 0x0FFFFFFC0FFFFFFC0FFFFFFC0FFFFFFF
    s = int.from_bytes(key[16:32], "little")
    p = (1 << 130) - 5
    acc = 0
    for i in range(0, len(message), 16):
        acc = (acc + int.from_bytes(message[i:i + 16] + b"\x01", "little")) * r % p
    return ((acc + s) & ((1 << 128) - 1)).to_bytes(16, "little")


def check_poly1305():
    key = bytes.fromhex("85d6be7857556d337f4452fe42d506a80103808afb0db2fd4abff6af4149f51b")
    tag = poly1305(key, b"Cryptographic Forum Research Group")
    assert tag.hex() == "a8061dc1305136c6c22b8baf0c0127a9", tag.hex()


def trailer(header, data, key, rows, version):
    key_bytes = b"".join(k.to_bytes(4, "little") for k in key)
    label = f"Quorvane tag key v{version}".encode()
    tag_key = hmac.new(key_bytes + table_bytes(rows), label, hashlib.sha256).digest()

    def mac(message):
        return hmac.new(tag_key, message, hashlib.sha256).digest()

    def chunk_value(i, chunk):
        index = i.to_bytes(8, "little")
        if version == 1:
            return mac(b"\x02" + index + chunk)
        return poly1305(mac(b"\x02" + index), chunk)

    check = mac(b"\x01" + header)
    chunks = [data[i:i + TAG_CHUNK] for i in range(0, len(data), TAG_CHUNK)]
    values = b"".join(chunk_value(i, c) for i, c in enumerate(chunks))
    tag = mac(b"\x03" + header + values + len(chunks).to_bytes(8, "little"))
    return MAGICS[version] + check + tag


def decode_ignoring_trailer(marker, encoded, key, rows):
    """The reader of earlier versions: header, then blockCount blocks; the rest is ignored."""
    token, blocks, pad, rest = encoded.split(b"\n", 3)
    assert token.decode() == marker
    blocks, pad = int(blocks), int(pad)
    out = bytearray()
    for i in range(0, blocks * 8, 8):
        w0 = int.from_bytes(rest[i:i + 4], "little")
        w1 = int.from_bytes(rest[i + 4:i + 8], "little")
        for _ in range(3):
            w0, w1 = decrypt_block(w0, w1, key, rows)
        out += w0.to_bytes(4, "little") + w1.to_bytes(4, "little")
    return bytes(out[:blocks * 8 - pad])


def pattern(n):
    return bytes((i * 7 + 3) & 0xFF for i in range(n))


def encode(marker, plain, key, rows):
    blocks = (len(plain) + 7) // 8
    pad = blocks * 8 - len(plain)
    data = plain + bytes(pad)
    out = bytearray(f"{marker}\n{blocks}\n{pad}\n".encode())
    for i in range(0, len(data), 8):
        w0 = int.from_bytes(data[i:i + 4], "little")
        w1 = int.from_bytes(data[i + 4:i + 8], "little")
        for _ in range(3):
            w0, w1 = encrypt_block(w0, w1, key, rows)
        out += w0.to_bytes(4, "little") + w1.to_bytes(4, "little")
    return bytes(out)


def encode_tagged(marker, plain, key, rows, version):
    old = encode(marker, plain, key, rows)
    header_length = old.index(b"\n", old.index(b"\n", old.index(b"\n") + 1) + 1) + 1
    return old + trailer(old[:header_length], old[header_length:], key, rows, version)


def main():
    check_poly1305()
    file_table = draw_table("Quorvane 1.1 file substitution table")
    store_table = draw_table("Quorvane 1.1 store substitution table")
    store_key = draw_key("Quorvane 1.1 store key")
    user_key = [0x01234567, 0x89ABCDEF, 0xFFFFFFFF, 0x00000001,
                0x80000000, 0x7FFFFFFF, 0xDEADBEEF, 0x0BADF00D]
    cases = [
        ("File", "annacryptedfile", user_key, file_table, b"Hello, world!"),
        ("File", "annacryptedfile", user_key, file_table, b""),
        ("File", "bobcryptedfile", user_key, file_table, bytes(range(24))),
        ("Store", "anna", store_key, store_table, b"codebook bytes \x00\x01\x02\xff"),
    ]
    lines = [
        "# Known-answer encoded files, computed by tests/cipher/make_encoded_vectors.py from the",
        "# format's description (independently of the C++ code). Table = File or Store; Key = K0..K7",
        "# as eight hex words; In = plain bytes; Out = the whole encoded file as earlier versions",
        "# wrote it (no trailer); Tagged = the file with its trailer, as written now (version 2);",
        "# TaggedV1 = the file with the trailer of version 1. Pattern = n stands for In = the n",
        "# bytes (7 i + 3) mod 256, and its record gives only Trailer and TrailerV1.",
        "",
    ]
    for table_name, marker, key, rows, plain in cases:
        old = encode(marker, plain, key, rows)
        tagged = encode_tagged(marker, plain, key, rows, 2)
        tagged_v1 = encode_tagged(marker, plain, key, rows, 1)
        for t in (tagged, tagged_v1):
            assert t.startswith(old)
            assert decode_ignoring_trailer(marker, t, key, rows) == plain
        lines.append(f"Table = {table_name}")
        lines.append(f"Marker = {marker}")
        lines.append("Key = " + " ".join(f"{k:08x}" for k in key))
        lines.append(f"In = {plain.hex()}")
        lines.append(f"Out = {old.hex()}")
        lines.append(f"Tagged = {tagged.hex()}")
        lines.append(f"TaggedV1 = {tagged_v1.hex()}")
        lines.append("")
    # Two tag chunks: the second one short.
    n = TAG_CHUNK + 13
    tagged = encode_tagged("longcryptedfile", pattern(n), user_key, file_table, 2)
    tagged_v1 = encode_tagged("longcryptedfile", pattern(n), user_key, file_table, 1)
    lines.append("Table = File")
    lines.append("Marker = longcryptedfile")
    lines.append("Key = " + " ".join(f"{k:08x}" for k in user_key))
    lines.append(f"Pattern = {n}")
    lines.append(f"Trailer = {tagged[-72:].hex()}")
    lines.append(f"TrailerV1 = {tagged_v1[-72:].hex()}")
    lines.append("")
    with open("tests/data/encoded_file.vec", "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
