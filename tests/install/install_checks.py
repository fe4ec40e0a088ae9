"""What the install and package checks share: running a command with a
trace, making a package with cpack, and the two checks every installed or
packaged trawl must pass (its information text, and a search in a small
tree)."""

import glob
import os
import subprocess


def run(command, **kwargs):
    print("$", " ".join(command), flush=True)
    return subprocess.run(command, **kwargs)


def make_package(cpack, build, generator, out, suffix):
    """Runs cpack for one generator; the path of the one package it made,
    or None after saying what went wrong."""
    done = run([cpack, "-G", generator, "-B", out,
                "--config", os.path.join(build, "CPackConfig.cmake")])
    if done.returncode != 0:
        print("cpack failed")
        return None
    made = glob.glob(os.path.join(out, "*" + suffix))
    if len(made) != 1:
        print("expected one", suffix, "found", made)
        return None
    return made[0]


def information_text_ok(command):
    """The program answers -? with its information text on standard error,
    nothing on standard output and status 0."""
    info = run(command + ["-?"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
               stdin=subprocess.DEVNULL)
    if info.returncode != 0 or info.stdout or not info.stderr.startswith(b"[trawl, 1."):
        print(" ".join(command), "-? gave", info)
        return False
    return True


def make_tree(root, relatives):
    for relative in relatives:
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "w").close()


def search_lines(command, tree, pattern, line_end="\n"):
    """Status, sorted output lines and standard error of a search."""
    found = run(command + [pattern], cwd=tree, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                stdin=subprocess.DEVNULL)
    lines = found.stdout.decode("latin-1").split(line_end)
    if lines and lines[-1] == "":
        lines.pop()
    return found.returncode, sorted(lines), found.stderr
