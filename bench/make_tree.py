#!/usr/bin/env python3
"""Build a reproducible directory tree for the benchmarks.

The same seed and entry count always give the same names, sizes and
modification times, so runs on different days measure the same work.

Shapes: a random recursive tree of directories (each new directory hangs
under a uniformly chosen directory that is not yet as deep as the shape
allows), then files spread over the directories.  The default shape goes ten
levels deep with about 30 entries a directory; "small-dirs" nine levels
with about 15 (400,000 entries make some 27,000 directories), where the
cost of opening and reading each directory outweighs that of its entries.
Names are ASCII only: GNU find -iname folds case through the locale while
trawl folds only A-Z, and the benchmark compares their outputs.

Sizes are sparse (ftruncate), so a large tree costs inodes, not disk.
Modification times are whole seconds between 2015 and 2025, with a few
files placed exactly on and just around 2020-01-01 00:00:00 UTC and a few
sizes exactly on the 1000-byte boundary, so that the date and size filters
are compared at their edges.

Usage: make_tree.py DIR [--seed N] [--entries N] [--shape default|small-dirs]
DIR must not exist or be a tree this script made with the same parameters
(a stamp file DIR.json next to it records them); a finished tree is reused.
"""

import argparse
import json
import os
import random
import shutil
import sys

# Deepest level and mean entries per directory of each shape.
SHAPES = {"default": (10, 30), "small-dirs": (9, 15)}

DIR_WORDS = ["src", "lib", "include", "test", "tests", "docs", "build", "util",
             "core", "net", "io", "ui", "data", "assets", "scripts", "tools",
             "vendor", "pkg", "cmd", "internal", "api", "app", "config", "res",
             "Common", "Platform", "Drivers", "MODULES"]
DOT_DIRS = [".git", ".cache", ".config", ".github", ".vscode", ".deps"]
STEMS = ["main", "util", "parser", "lexer", "buffer", "list", "hash", "map",
         "alloc", "io", "net", "socket", "file", "path", "string", "vector",
         "window", "render", "shader", "config", "options", "log", "error",
         "test", "bench", "index", "README", "Makefile", "LICENSE", "CHANGES",
         "Widget", "Server", "Client", "MAIN", "Types", "queue", "tree"]
# Weighted towards source files; upper-case variants exercise case folding.
EXTS = [(".c", 10), (".h", 8), (".cpp", 6), (".hpp", 2), (".py", 5),
        (".txt", 5), (".md", 3), (".json", 3), (".o", 4), (".js", 4),
        (".rs", 2), (".go", 2), (".html", 2), (".css", 1), (".png", 3),
        (".jpg", 2), (".C", 1), (".H", 1), (".TXT", 1), (".cc", 1),
        (".c.orig", 1), (".sh", 1), (".yml", 1), ("", 2)]
DOT_FILES = [".gitignore", ".env", ".clang-format", ".editorconfig",
             ".hidden.c", ".keep", ".profile.c", ".c"]

T2015 = 1420070400      # 2015-01-01 00:00:00 UTC
T2020 = 1577836800      # 2020-01-01 00:00:00 UTC
T2026 = 1767225600      # 2026-01-01 00:00:00 UTC


def plan(seed, entries, shape="default"):
    """Return (dirs, files): dirs as (parent index, name, depth, mtime),
    files as (dir index, name, size, mtime in ns).  Index 0 is the root,
    which is not an entry itself."""
    max_depth, per_dir = SHAPES[shape]
    rng = random.Random(seed)
    ext_names = [e for e, _ in EXTS]
    ext_weights = [w for _, w in EXTS]
    ndirs = max(2, entries // per_dir)

    dirs = [(-1, "", 0, 0)]
    used = [set()]           # names taken in each directory
    open_dirs = [0]          # directories that may still get children
    for i in range(1, ndirs):
        parent = open_dirs[rng.randrange(len(open_dirs))]
        depth = dirs[parent][2] + 1
        while True:
            if rng.random() < 0.04:
                name = rng.choice(DOT_DIRS)
            else:
                name = rng.choice(DIR_WORDS)
            if name in used[parent]:
                name = "%s%d" % (name, rng.randrange(100))
            if name not in used[parent]:
                break
        used[parent].add(name)
        used.append(set())
        dirs.append((parent, name, depth, rng.randrange(T2015, T2026)))
        if depth < max_depth:
            open_dirs.append(i)

    nfiles = entries - (ndirs - 1)
    weights = [rng.uniform(0.3, 1.7) for _ in range(ndirs)]
    total_w = sum(weights)
    counts = [int(nfiles * w / total_w) for w in weights]
    counts[0] += nfiles - sum(counts)

    files = []
    for d, n in enumerate(counts):
        taken = used[d]
        for _ in range(n):
            while True:
                if rng.random() < 0.03:
                    name = rng.choice(DOT_FILES)
                else:
                    name = rng.choice(STEMS)
                    if rng.random() < 0.6:
                        name += "_%d" % rng.randrange(1000)
                    name += rng.choices(ext_names, ext_weights)[0]
                if name not in taken:
                    break
                # Collisions are rare; a numeric suffix before the
                # extension keeps the extension statistics intact.
                stem, dot, ext = name.rpartition(".")
                if dot and stem:
                    name = "%s~%d.%s" % (stem, rng.randrange(10**6), ext)
                else:
                    name = "%s~%d" % (name, rng.randrange(10**6))
                if name not in taken:
                    break
            taken.add(name)

            r = rng.random()
            if r < 0.60:
                size = 0
            elif r < 0.98:
                size = rng.randrange(1, 8000)
            elif r < 0.999:
                size = rng.choice([999, 1000, 1001])
            else:
                size = rng.randrange(1 << 20, 200 << 20)

            r = rng.random()
            if r < 0.002:
                sec = rng.choice([T2020 - 1, T2020, T2020 + 1])
                ns = 0
            elif r < 0.004:
                # Sub-second times just below the boundary: filters must
                # not round them up to it.
                sec, ns = T2020 - 1, rng.randrange(1, 10**9)
            else:
                sec, ns = rng.randrange(T2015, T2026), 0
            files.append((d, name, size, sec * 10**9 + ns))
    return dirs, files


def build(root, seed, entries, shape):
    dirs, files = plan(seed, entries, shape)
    paths = [root]
    for parent, name, _, _ in dirs[1:]:
        p = os.path.join(paths[parent], name)
        os.mkdir(p)
        paths.append(p)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL
    for d, name, size, mtime_ns in files:
        fd = os.open(os.path.join(paths[d], name), flags, 0o644)
        try:
            if size:
                os.ftruncate(fd, size)
            os.utime(fd, ns=(mtime_ns, mtime_ns))
        finally:
            os.close(fd)
    # Directory times last, deepest first: creating entries touches them.
    for i in sorted(range(1, len(dirs)), key=lambda i: -dirs[i][2]):
        t = dirs[i][3] * 10**9
        os.utime(paths[i], ns=(t, t))
    return {
        "seed": seed,
        "entries": entries,
        "shape": shape,
        "directories": len(dirs) - 1,
        "files": len(files),
        "max_depth": max(d[2] for d in dirs),
        "nonempty_files": sum(1 for f in files if f[2]),
        "largest_file": max(f[2] for f in files),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("dir")
    ap.add_argument("--seed", type=int, default=20240607)
    ap.add_argument("--entries", type=int, default=400000)
    ap.add_argument("--shape", choices=sorted(SHAPES), default="default")
    args = ap.parse_args()

    root = os.path.abspath(args.dir)
    stamp = root + ".json"
    if os.path.exists(stamp):
        with open(stamp) as f:
            info = json.load(f)
        # Stamps written before there were shapes are of the default one.
        if (info.get("seed"), info.get("entries"), info.get("shape", "default")) == (
                args.seed, args.entries, args.shape):
            print(json.dumps(info))
            return 0
        sys.exit("make_tree: %s holds another tree (%s); remove it first"
                 % (root, stamp))
    if os.path.exists(root):
        # A tree without its stamp is an interrupted build: start over, but
        # only inside a directory this script could have made.
        if not os.path.basename(root).startswith("tree-"):
            sys.exit("make_tree: %s exists and is not an unfinished tree" % root)
        shutil.rmtree(root)
    os.makedirs(root)
    info = build(root, args.seed, args.entries, args.shape)
    with open(stamp + ".tmp", "w") as f:
        json.dump(info, f)
    os.replace(stamp + ".tmp", stamp)
    print(json.dumps(info))
    return 0


if __name__ == "__main__":
    sys.exit(main())
