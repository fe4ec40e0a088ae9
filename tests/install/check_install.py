#!/usr/bin/env python3
"""Installs a configured and built trawl tree into a fresh prefix, checks the
installed files, then builds and runs consumers of the installed wildcard
library: a project with find_package(wildcat) (a C++ program and the smallest
C one), and C programs compiled with the flags of `pkg-config --cflags --libs
wildcat` (a fuller one and the same smallest one).  The library defines no
global symbol outside the pattern_ prefix."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from install_checks import information_text_ok, run

SKIP = 77

# "LIB" stands for the library's directory, lib or lib/<multiarch triplet>.
EXPECTED = [
    "bin/trawl",
    "share/man/man1/trawl.1.gz",
    "share/doc/trawl/changelog.gz",
    "share/doc/trawl/copyright",
    "LIB/libwildcat.a",
    "include/wildcat.h",
    "LIB/cmake/wildcat/wildcatConfig.cmake",
    "LIB/cmake/wildcat/wildcatConfigVersion.cmake",
    "LIB/cmake/wildcat/wildcatTargets.cmake",
    "LIB/pkgconfig/wildcat.pc",
]


def foreign_symbols(library):
    """The global symbols the library defines without the pattern_ prefix,
    or None when nm cannot read it."""
    listed = run(["nm", "-g", "--defined-only", library], stdout=subprocess.PIPE, text=True)
    if listed.returncode != 0:
        return None
    symbols = [line.split()[-1] for line in listed.stdout.splitlines() if len(line.split()) == 3]
    return [symbol for symbol in symbols if not symbol.startswith("pattern_")] if symbols else None


def build_c_consumers(libdir, sources, work):
    """Compiles and runs each C program with the flags pkg-config gives for
    the installed wildcat.pc; the failure, or None."""
    environment = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"),
                       PKG_CONFIG_LIBDIR="")
    flags = run(["pkg-config", "--cflags", "--libs", "wildcat"], stdout=subprocess.PIPE, text=True,
                env=environment)
    if flags.returncode != 0:
        return "pkg-config does not know the installed wildcat"
    version = run(["pkg-config", "--modversion", "wildcat"], stdout=subprocess.PIPE, text=True,
                  env=environment)
    if not version.stdout.startswith("1."):
        return "wildcat.pc gives the version %r" % version.stdout
    compiler = os.environ.get("CC", "cc")
    for index, source in enumerate(sources):
        program = os.path.join(work, "c_program_%d" % index)
        compile_command = [compiler, "-std=c99", "-Wall", "-Wextra", "-Werror", "-pedantic",
                           source, "-o", program] + flags.stdout.split()
        if run(compile_command).returncode != 0:
            return source + " did not build through pkg-config"
        if run([program]).returncode != 0:
            return source + " failed its checks through pkg-config"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--consumer", required=True)
    parser.add_argument("--c-consumer", required=True)
    parser.add_argument("--libdir", default="lib")
    args = parser.parse_args()

    for tool in ("pkg-config", "nm", os.environ.get("CC", "cc")):
        if shutil.which(tool) is None:
            print(tool, "is not installed; skipping")
            return SKIP

    work = tempfile.mkdtemp(prefix="trawl-install-")
    try:
        prefix = os.path.join(work, "prefix")
        done = run([args.cmake, "--install", args.build, "--prefix", prefix])
        if done.returncode != 0:
            print("cmake --install failed")
            return 1

        failures = []
        for relative in EXPECTED:
            relative = relative.replace("LIB", args.libdir, 1)
            if not os.path.isfile(os.path.join(prefix, relative)):
                failures.append("not installed: " + relative)
        trawl = os.path.join(prefix, "bin", "trawl")
        if os.path.isfile(trawl) and not os.access(trawl, os.X_OK):
            failures.append("bin/trawl is not executable")
        if failures:
            print("\n".join(failures))
            return 1

        libdir = os.path.join(prefix, args.libdir)
        foreign = foreign_symbols(os.path.join(libdir, "libwildcat.a"))
        if foreign is None or foreign:
            print("libwildcat.a defines symbols outside pattern_:", foreign)
            return 1

        failure = build_c_consumers(libdir, [os.path.join(args.c_consumer, "main.c"),
                                             os.path.join(args.consumer, "smallest.c")], work)
        if failure:
            print(failure)
            return 1

        # The installed program runs from its new place.
        if not information_text_ok([trawl]):
            return 1

        # A consumer configured against the prefix only.
        source = os.path.join(work, "consumer")
        shutil.copytree(args.consumer, source)
        build = os.path.join(work, "consumer-build")
        configure = [args.cmake, "-S", source, "-B", build,
                     "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF"]
        if run(configure).returncode != 0:
            print("the consumer project did not configure against", prefix)
            return 1
        if run([args.cmake, "--build", build]).returncode != 0:
            print("the consumer project did not build")
            return 1
        for program in ("consumer", "smallest"):
            if run([os.path.join(build, program)]).returncode != 0:
                print("the consumer project's", program, "failed its checks")
                return 1

        # The version file turns away a request for another major version.
        other = os.path.join(work, "consumer-build-2")
        refused = run([args.cmake, "-S", source, "-B", other,
                       "-DCMAKE_PREFIX_PATH=" + prefix, "-DWILDCAT_WANTED_VERSION=2.0"],
                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if refused.returncode == 0:
            print("find_package(wildcat 2.0) was satisfied by version 1.x")
            return 1
        print("ok")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
