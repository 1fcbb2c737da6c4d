#!/usr/bin/env python3
"""Writes a benchmark payload: a folder of SIZE MiB, half random bytes, half text, 300 files.

usage: genpayload.py SIZE_MIB SEED OUT_DIR

The same SIZE and SEED give the same bytes on every machine (Python's seeded Mersenne Twister).
Random bytes go to 40 files in bin/ (what deflate cannot shrink: packed images); text goes to 260
files in doc/ and src/ (lines of words from a fixed vocabulary, which deflate shrinks to about half).
File sizes vary around the mean, so entries are neither all equal nor all tiny.
"""
import os
import random
import sys

RANDOM_FILES = 40
TEXT_FILES = 260


def split(total, parts, rng):
    """Sizes of parts files that add up to total, each between half and 1.5 times the mean."""
    weights = [rng.uniform(0.5, 1.5) for _ in range(parts)]
    scale = total / sum(weights)
    sizes = [int(w * scale) for w in weights]
    sizes[-1] += total - sum(sizes)
    return sizes


def text_pool(rng):
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    vocab = ["".join(rng.choices(letters, weights=range(26, 0, -1), k=rng.randint(2, 10))) for _ in range(4000)]
    lines = []
    for _ in range(50000):
        words = rng.choices(vocab, k=rng.randint(3, 12))
        if rng.random() < 0.3:
            words.append(str(rng.randint(0, 99999)))
        lines.append(" ".join(words) + (".\n" if rng.random() < 0.5 else "\n"))
    return lines


def write_text(path, size, pool, rng):
    # Whole lines until the size is reached, then cut to exactly size bytes.
    parts, have = [], 0
    while have < size:
        chunk = rng.choices(pool, k=max(16, (size - have) // 40))
        for line in chunk:
            parts.append(line)
            have += len(line)
            if have >= size:
                break
    data = "".join(parts).encode()[:size]
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: genpayload.py SIZE_MIB SEED OUT_DIR")
    size_mib, seed, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    total = size_mib * 1024 * 1024
    rng = random.Random(seed)
    for d in ("bin", "doc", "src"):
        os.makedirs(os.path.join(out, d), exist_ok=True)
    for i, n in enumerate(split(total // 2, RANDOM_FILES, rng)):
        with open(os.path.join(out, "bin", "blob%03d.img" % i), "wb") as f:
            for at in range(0, n, 1 << 22):
                f.write(rng.randbytes(min(1 << 22, n - at)))
    pool = text_pool(rng)
    for i, n in enumerate(split(total - total // 2, TEXT_FILES, rng)):
        folder = "doc" if i % 2 == 0 else "src"
        write_text(os.path.join(out, folder, "part%03d.txt" % i), n, pool, rng)


if __name__ == "__main__":
    main()
