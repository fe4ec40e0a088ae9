#!/usr/bin/env python3
"""Reads the version resource of a Windows executable, the way Explorer's
Properties and inventory tools do, and checks it against the version CMake
took from project() and the copyright line of LICENSE.  Also checks that
the application manifest is still there beside it.

  check_version_resource.py --exe trawl.exe --version 1.0 --license LICENSE
"""

import argparse
import os
import struct
import sys

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x40004
VFT_APP = 1


def sections_and_resources(image):
    """The section table as (rva, size, file offset) and the resource
    directory's (rva, size), from the PE headers."""
    if image[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    resource_rva, resource_size = struct.unpack_from("<II", image, directories + 2 * 8)
    sections = []
    for index in range(count):
        entry = optional + optional_size + 40 * index
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))
    return sections, resource_rva, resource_size


def file_offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("RVA %#x lies in no section" % rva)


def resources(path):
    """{(type, name): bytes} for every resource with numeric type and name
    (first language of each)."""
    with open(path, "rb") as f:
        image = f.read()
    sections, root_rva, root_size = sections_and_resources(image)
    if root_size == 0:
        return {}
    root = file_offset(sections, root_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image, root + directory + 12)
        for index in range(named + numbered):
            ident, target = struct.unpack_from("<II", image, root + directory + 16 + 8 * index)
            yield ident, target & 0x7FFFFFFF, bool(target & 0x80000000)

    found = {}
    for type_id, type_dir, type_is_dir in entries(0):
        if not type_is_dir or type_id & 0x80000000:
            continue
        for name_id, name_dir, name_is_dir in entries(type_dir):
            if not name_is_dir or name_id & 0x80000000:
                continue
            for _, leaf, leaf_is_dir in entries(name_dir):
                if leaf_is_dir:
                    continue
                data_rva, size = struct.unpack_from("<II", image, root + leaf)
                start = file_offset(sections, data_rva)
                found[(type_id, name_id)] = image[start:start + size]
                break
    return found


def align(offset):
    return (offset + 3) & ~3


def version_block(data, offset):
    """One node of VS_VERSIONINFO: (key, value, children) and where it ends.
    A text value (type 1) counts its length in UTF-16 units."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    cursor = align(key_end + 2)
    if value_type == 1:
        value = data[cursor:cursor + 2 * value_length].decode("utf-16-le").rstrip("\0")
        cursor += 2 * value_length
    else:
        value = data[cursor:cursor + value_length]
        cursor += value_length
    children = []
    cursor = align(cursor)
    while cursor < end:
        child, cursor = version_block(data, cursor)
        children.append(child)
        cursor = align(cursor)
    return (key, value, children), end


def version_info(data):
    """The fixed numbers and the first string table of a version resource:
    {'file': (4 numbers), 'product': ..., 'os', 'type', 'strings': {},
    'table': key of the string table, 'translations': [(language, code page)]}."""
    (key, fixed, children), _ = version_block(data, 0)
    if key != "VS_VERSION_INFO":
        raise ValueError("the version resource is keyed %r" % key)
    fields = struct.unpack_from("<13I", fixed)
    if fields[0] != FIXED_SIGNATURE:
        raise ValueError("no VS_FIXEDFILEINFO signature")

    def four(most, least):
        return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)

    info = {"file": four(fields[2], fields[3]), "product": four(fields[4], fields[5]),
            "os": fields[8], "type": fields[9], "strings": {}, "table": None,
            "translations": []}
    for child_key, _, grandchildren in children:
        if child_key == "StringFileInfo" and grandchildren:
            table_key, _, strings = grandchildren[0]
            info["table"] = table_key.lower()
            info["strings"] = {name: text for name, text, _ in strings}
        elif child_key == "VarFileInfo":
            for var_key, value, _ in grandchildren:
                if var_key == "Translation":
                    info["translations"] += [struct.unpack_from("<HH", value, i)
                                             for i in range(0, len(value), 4)]
    return info


def read_version_info(path):
    found = resources(path)
    if (RT_VERSION, 1) not in found:
        return None
    return version_info(found[(RT_VERSION, 1)])


def problems(path, version, copyright_line):
    found = resources(path)
    if (RT_VERSION, 1) not in found:
        return ["%s has no version resource" % path]
    info = version_info(found[(RT_VERSION, 1)])
    numbers = tuple(int(n) for n in version.split(".")) + (0, 0, 0)
    numbers = numbers[:4]
    translation = "%04x%04x" % info["translations"][0] if info["translations"] else None
    expected = [
        ("fixed file version", info["file"], numbers),
        ("fixed product version", info["product"], numbers),
        ("operating system", info["os"], VOS_NT_WINDOWS32),
        ("file type", info["type"], VFT_APP),
        ("string table of the translation", info["table"], translation),
        ("FileVersion", info["strings"].get("FileVersion"), version),
        ("ProductVersion", info["strings"].get("ProductVersion"), version),
        ("ProductName", info["strings"].get("ProductName"), "trawl"),
        ("OriginalFilename", info["strings"].get("OriginalFilename"), os.path.basename(path)),
        ("LegalCopyright", info["strings"].get("LegalCopyright"), copyright_line),
        ("FileDescription given", bool(info["strings"].get("FileDescription")), True),
    ]
    found_problems = ["%s: %r, expected %r" % (name, got, want)
                      for name, got, want in expected if got != want]
    manifest = found.get((RT_MANIFEST, 1), b"")
    if b"<activeCodePage>UTF-8</activeCodePage>" not in manifest:
        found_problems.append("the application manifest is missing or lacks activeCodePage")
    return found_problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--version", required=True, help="PROJECT_VERSION, as CMake knows it")
    parser.add_argument("--license", required=True)
    args = parser.parse_args()
    with open(args.license, encoding="utf-8") as f:
        copyright_line = next(line.strip() for line in f if line.startswith("Copyright "))
    found = problems(args.exe, args.version, copyright_line)
    if found:
        print("\n".join(found))
        return 1
    print("ok: version", args.version)
    return 0


if __name__ == "__main__":
    sys.exit(main())
