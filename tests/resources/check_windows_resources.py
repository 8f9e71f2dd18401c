#!/usr/bin/env python3
"""Compiles the plug-in's Windows resource script with the MinGW resource compiler and reads the
compiled resources back: version information, manifest and icon groups.
    check_windows_resources.py WINDRES RESOURCE_SCRIPT WORK_FOLDER"""

import pathlib
import struct
import subprocess
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resources(data):
    """Yields (type, name, bytes) of every entry of a .res file."""
    offset = 0
    while offset < len(data):
        data_size, header_size = struct.unpack_from("<II", data, offset)
        fields, position = [], offset + 8
        for _ in range(2):  # type, then name: 0xFFFF and an ordinal, or a UTF-16 string
            (first,) = struct.unpack_from("<H", data, position)
            if first == 0xFFFF:
                fields.append(struct.unpack_from("<H", data, position + 2)[0])
                position += 4
            else:
                end = position
                while struct.unpack_from("<H", data, end)[0] != 0:
                    end += 2
                fields.append(data[position:end].decode("utf-16-le"))
                position = end + 2
        start = offset + header_size
        yield fields[0], fields[1], data[start : start + data_size]
        offset = (start + data_size + 3) & ~3


def version_strings(block):
    text = block.decode("utf-16-le", errors="replace")
    found = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion"):
        at = text.find(key + "\0")
        value = text[at + len(key) :].lstrip("\0").split("\0", 1)[0] if at >= 0 else None
        found[key] = value
    return found, text


def main():
    windres, script, work = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    work.mkdir(parents=True, exist_ok=True)
    compiled = work / "KeyferryReceiver.res"
    subprocess.run([windres, "--preprocessor=cpp", "--preprocessor-arg=-xc-header", script, "-O", "res", "-o", str(compiled)],
                   check=True)

    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    entries = list(resources(compiled.read_bytes()))
    by_type = {}
    for kind, name, body in entries:
        by_type.setdefault(kind, []).append((name, body))

    # Version information: the strings and the fixed part.
    versions = by_type.get(RT_VERSION, [])
    expect(len(versions) == 1, "one version resource")
    if versions:
        body = versions[0][1]
        strings, text = version_strings(body)
        expect(strings == {"CompanyName": "Halvork", "FileDescription": "Keyferry Receiver", "FileVersion": "0.4.0",
                           "ProductName": "Keyferry Receiver", "ProductVersion": "0.4.0"}, f"version strings {strings}")
        expect("040904E4" in text or "040904e4" in text, "string table for language 0x0409, code page 1252")
        fixed = body.find(struct.pack("<I", 0xFEEF04BD))
        expect(fixed > 0, "fixed file information present")
        if fixed > 0:
            (_, _, file_ms, file_ls, product_ms, product_ls, _, flags, os_, file_type, subtype) = struct.unpack_from(
                "<11I", body, fixed)
            expect((file_ms, file_ls) == (0x00000004, 0x00000000), f"file version 0.4.0.0, got {file_ms:08x}{file_ls:08x}")
            expect((product_ms, product_ls) == (0, 0), "product version 0.0.0.0")
            expect((flags, os_, file_type, subtype) == (0, 0, 0, 0), "flags, operating system and file type 0")

    # Manifest.
    manifests = by_type.get(RT_MANIFEST, [])
    expect(len(manifests) == 1, "one manifest")
    if manifests:
        manifest = manifests[0][1].decode("utf-8")
        expect('level="asInvoker"' in manifest and 'uiAccess="false"' in manifest, "asInvoker without UI access")
        expect("Microsoft.Windows.Common-Controls" in manifest and 'version="6.0.0.0"' in manifest, "Common Controls 6.0.0.0")

    # Icons: two named groups of the same three sizes at 32 bits, each entry a real image.
    groups = dict(by_type.get(RT_GROUP_ICON, []))
    expect(sorted(groups) == ["IDI_ICON1", "IDI_ICON2"], f"icon groups {sorted(groups)}")
    images = dict(by_type.get(RT_ICON, []))
    for name, body in groups.items():
        _, kind, count = struct.unpack_from("<HHH", body, 0)
        sizes = []
        for i in range(count):
            width, height, _, _, planes, bits, size, ordinal = struct.unpack_from("<BBBBHHIH", body, 6 + 14 * i)
            sizes.append((width, height, bits))
            image = images.get(ordinal, b"")
            expect(len(image) == size, f"{name} image {ordinal} has its {size} bytes")
            if image:
                header_width, header_height, _, header_bits = struct.unpack_from("<iiHH", image, 4)
                expect((header_width, header_height, header_bits) == (width, 2 * height, 32),
                       f"{name} image {ordinal} is a {width} px 32-bit bitmap")
        expect(kind == 1 and sizes == [(16, 16, 32), (32, 32, 32), (48, 48, 32)], f"{name} sizes {sizes}")

    if failures:
        print("Windows resources do not match:\n  " + "\n  ".join(failures))
        return 1
    print(f"Windows resources match: {len(entries)} entries in {compiled}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
