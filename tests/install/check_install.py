#!/usr/bin/env python3
"""Installs a configured and built trawl tree into a fresh prefix, checks the
installed files, then builds and runs a consumer project against the
installed wildcard library with find_package(wildcat)."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from install_checks import information_text_ok, run

EXPECTED = [
    "bin/trawl",
    "share/man/man1/trawl.1",
    "share/doc/trawl/LICENSE",
    "lib/libwildcat.a",
    "include/wildcat.h",
    "lib/cmake/wildcat/wildcatConfig.cmake",
    "lib/cmake/wildcat/wildcatConfigVersion.cmake",
    "lib/cmake/wildcat/wildcatTargets.cmake",
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--consumer", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="trawl-install-")
    try:
        prefix = os.path.join(work, "prefix")
        done = run([args.cmake, "--install", args.build, "--prefix", prefix])
        if done.returncode != 0:
            print("cmake --install failed")
            return 1

        failures = []
        for relative in EXPECTED:
            if not os.path.isfile(os.path.join(prefix, relative)):
                failures.append("not installed: " + relative)
        trawl = os.path.join(prefix, "bin", "trawl")
        if os.path.isfile(trawl) and not os.access(trawl, os.X_OK):
            failures.append("bin/trawl is not executable")
        if failures:
            print("\n".join(failures))
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
        if run([os.path.join(build, "consumer")]).returncode != 0:
            print("the consumer's checks failed")
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
