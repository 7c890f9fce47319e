#!/usr/bin/env python3
# Generates the benchmark corpus: a deterministic tree of text-like
# (compressible) and binary-like (incompressible) files, a few large ones and
# many small ones, shaped like an update of the host application.
import argparse
import math
import os
import random

FOLDERS = ["prog", "prog/lib", "prog/res", "prog/res/img", "doc", "doc/html", "data", "data/forms",
           "help", "plugins/bank", "plugins/print", "templates"]
TEXT_EXTS = ["txt", "ini", "xml", "htm", "csv", "sql", "rtf", "cfg"]
BINARY_EXTS = ["dll", "exe", "bin", "dat", "png", "jpg", "ocx", "res"]
# Fixed timestamp (2024-03-01 12:00:00 UTC) so the ZIP is the same on every machine.
MTIME = 1709294400


def make_vocabulary(rng):
    letters = "abcdefghijklmnopqrstuvwxyz"
    words = set()
    while len(words) < 3000:
        words.add("".join(rng.choices(letters, k=rng.randint(2, 11))))
    words = sorted(words)
    # Common German/technical words repeat far more often than the rest.
    weights = [1.0 / (rank + 1) for rank in range(len(words))]
    return words, weights


def text_pool(rng, size, vocabulary):
    words, weights = vocabulary
    parts = []
    length = 0
    while length < size:
        kind = rng.random()
        count = rng.randint(4, 14)
        line = " ".join(rng.choices(words, weights=weights, k=count))
        if kind < 0.3:
            line = "%s_%d = %s;" % (rng.choice(words).upper(), rng.randint(0, 99999), line)
        elif kind < 0.5:
            line = "<%s id=\"%d\">%s</%s>" % (words[count], rng.randint(0, 9999), line, words[count])
        parts.append(line)
        length += len(line) + 2
    return ("\r\n".join(parts) + "\r\n").encode("ascii")[:size]


def text_bytes(rng, size, pool):
    # Pieces of a pool far larger than deflate's 32 KiB window compress like
    # fresh text, at a fraction of the cost of generating every word.
    pieces = []
    length = 0
    while length < size:
        piece = min(rng.randint(2048, 65536), size - length)
        start = rng.randrange(len(pool) - piece)
        pieces.append(pool[start:start + piece])
        length += piece
    return b"".join(pieces)


def plan_sizes(rng, files, total, large):
    """Sizes of the `files` files so that they add up to `total` bytes."""
    large_share = 0.48
    large_each = int(total * large_share / large)
    small_count = files - large
    # Log-uniform between 64 bytes and 512 KiB, then scaled to the rest of the total.
    raw = [math.exp(rng.uniform(math.log(64), math.log(512 * 1024))) for _ in range(small_count)]
    rest = total - large_each * large
    scale = rest / sum(raw)
    small = [max(1, int(r * scale)) for r in raw]
    small[0] += rest - sum(small)
    return [large_each] * large + small


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder")
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--megabytes", type=int, default=200)
    parser.add_argument("--seed", type=int, default=20240301)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    pool = text_pool(rng, 1024 * 1024, make_vocabulary(rng))
    large = 4 if args.files >= 1000 else 2
    sizes = plan_sizes(rng, args.files, args.megabytes * 1000 * 1000, large)

    os.makedirs(args.folder)
    for folder in FOLDERS:
        os.makedirs(os.path.join(args.folder, folder), exist_ok=True)
    for index, size in enumerate(sizes):
        # Large files alternate text and binary; small ones are 60 % text.
        textual = index % 2 == 0 if index < large else rng.random() < 0.6
        ext = rng.choice(TEXT_EXTS if textual else BINARY_EXTS)
        folder = FOLDERS[index % len(FOLDERS)] if index >= large else "prog"
        name = "%s%04d.%s" % ("big" if index < large else "f", index, ext)
        data = text_bytes(rng, size, pool) if textual else rng.randbytes(size)
        path = os.path.join(args.folder, folder, name)
        with open(path, "wb") as out:
            out.write(data)
        os.utime(path, (MTIME, MTIME))
    for folder in FOLDERS:
        os.utime(os.path.join(args.folder, folder), (MTIME, MTIME))


if __name__ == "__main__":
    main()
