#!/usr/bin/env python3
"""Writes the benchmark workloads into a directory: realistic resource scripts of several sizes,
hostile inputs, and a small typical script for start-up timing."""
import os
import sys

MIB = 1 << 20


def realistic_block(i):
    return (
        f"IDD_DIALOG{i} DIALOGEX 0, 0, 320, 200\r\n"
        f"STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION\r\n"
        f"CAPTION \"{{PRODUCT}} - Settings page {i}\"\r\n"
        f"FONT 8, \"MS Shell Dlg\"\r\n"
        f"BEGIN\r\n"
        f"    DEFPUSHBUTTON   \"OK\",IDOK,209,179,50,14\r\n"
        f"    PUSHBUTTON      \"Cancel\",IDCANCEL,263,179,50,14\r\n"
        f"    LTEXT           \"Version {{VERSION}} of {{PRODUCT}}, built in {{ROOT}}/out\",IDC_STATIC,7,7,300,8\r\n"
        f"    LTEXT           \"This text is continued on the next line, \" \\\r\n"
        f"                    \"as long strings are in resource scripts.\",IDC_STATIC,7,20,300,8\r\n"
        f"    CONTROL         \"{{UNDEFINED_NAME}} stays\",IDC_CHECK{i},\"Button\",BS_AUTOCHECKBOX,7,40,120,10\r\n"
        f"END\r\n"
        f"\r\n"
        f"STRINGTABLE\r\n"
        f"BEGIN\r\n"
        f"    IDS_STRING{i}     \"Copyright (C) 2026 {{COMPANY}}. All rights reserved.\"\r\n"
        f"    IDS_HELP{i}       \"Press F1 for help on page {i}.\\n\" \\\r\n"
        f"                      \"See {{ROOT}}/doc/page{i}.html\"\r\n"
        f"    IDS_PLAIN{i}      \"A plain string with no references at all, of typical length.\"\r\n"
        f"END\r\n\r\n"
    )


def write_realistic(path, size):
    with open(path, "w", newline="") as out:
        written, i = 0, 0
        header = "// Generated resource script\r\n#include \"resource.h\"\r\n\r\n"
        out.write(header)
        written += len(header)
        while written < size:
            block = realistic_block(i)
            out.write(block)
            written += len(block)
            i += 1


def write_repeated(path, unit, size):
    data = (unit * (size // len(unit) + 1))[:size]
    with open(path, "wb") as out:
        out.write(data)


def main():
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    for mib in (4, 16, 64):
        write_realistic(os.path.join(target, f"realistic-{mib}.rsrc"), mib * MIB)
        write_repeated(os.path.join(target, f"braces-{mib}.rsrc"), b"{", mib * MIB)
    write_repeated(os.path.join(target, "longname-16.rsrc"), b"a", 16 * MIB - 1)
    with open(os.path.join(target, "longname-16.rsrc"), "r+b") as f:
        f.write(b"{")
    write_repeated(os.path.join(target, "chain-16.rsrc"), b'"a" \\\r\n"', 16 * MIB)
    write_repeated(os.path.join(target, "undefined-16.rsrc"), b"{}{X}", 16 * MIB)
    # Dense references to a few thousand names, one in eight undefined; references to two names.
    refs = "".join(f"{{N{i}}}x" for i in range(4000))
    for mib in (16, 64):
        write_repeated(os.path.join(target, f"dense-{mib}.rsrc"), refs.encode(), mib * MIB)
        write_repeated(os.path.join(target, f"ab-{mib}.rsrc"), b"{A}{B}x", mib * MIB)
    with open(os.path.join(target, "dense.args"), "w") as f:
        f.write("\n".join(f"-DN{i}=value{i}" for i in range(4000) if i % 8))
    write_realistic(os.path.join(target, "typical-8k.rsrc"), 8 * 1024)
    # The same text as UTF-8 and as UTF-16 with its byte-order mark: 32 MiB and 64 MiB.
    utf8 = os.path.join(target, "realistic-32.rsrc")
    write_realistic(utf8, 32 * MIB)
    with open(utf8, encoding="utf-8", newline="") as f:
        text = f.read()
    with open(os.path.join(target, "utf16-64.rsrc"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


if __name__ == "__main__":
    main()
