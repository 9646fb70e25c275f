#!/usr/bin/env python3
"""Writes escpos/asciimap_table.cpp: the table that folds non-ASCII characters
to plain ASCII for printers without the needed code page.

The rows are those of the Apache Lucene ASCII folding filter as published in
the npm package fold-to-ascii (lib/ascii-folder.js), read here as data: a
letter with diacritics or a stylistic variant becomes its base letter in the
same case, a ligature or digraph its letters, punctuation variants the nearest
ASCII punctuation, and superscript, subscript, circled, parenthesised and
full-width forms their ASCII digits, letters or signs.

A few rows of the package break that rule; CORRECTIONS puts them right. The
script checks the table's extent (rows per Unicode block, replacement lengths,
a set of telling rows) and the rule's letter case and base letters against
Unicode's own data (unicodedata) before writing, and reports how many rows
Unicode's decomposition gives the same way.

Usage: tools/gen_asciimap.py [ascii-folder.js [OUTPUT]]   (an empty first argument fetches)
       tools/gen_asciimap.py --check TABLE.cpp              (checks a generated table)
Without a path the package is fetched with `npm pack fold-to-ascii@5.0.1`.
"""
import collections
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unicodedata

PACKAGE = "fold-to-ascii@5.0.1"

# Unicode block -> (first, last, rows expected)
BLOCKS = [
    ("Latin-1 Supplement", 0x0080, 0x00FF, 67),
    ("Latin Extended-A", 0x0100, 0x017F, 128),
    ("Latin Extended-B", 0x0180, 0x024F, 179),
    ("IPA Extensions", 0x0250, 0x02AF, 67),
    ("Phonetic Extensions", 0x1D00, 0x1D7F, 52),
    ("Phonetic Extensions Supplement", 0x1D80, 0x1DBF, 23),
    ("Latin Extended Additional", 0x1E00, 0x1EFF, 254),
    ("General Punctuation", 0x2000, 0x206F, 30),
    ("Superscripts and Subscripts", 0x2070, 0x209F, 34),
    ("Number Forms", 0x2150, 0x218F, 1),
    ("Enclosed Alphanumerics", 0x2460, 0x24FF, 160),
    ("Dingbats", 0x2700, 0x27BF, 48),
    ("Latin Extended-C", 0x2C60, 0x2C7F, 25),
    ("Supplemental Punctuation", 0x2E00, 0x2E7F, 2),
    ("Latin Extended-D", 0xA720, 0xA7FF, 74),
    ("Alphabetic Presentation Forms", 0xFB00, 0xFB4F, 6),
    ("Halfwidth and Fullwidth Forms", 0xFF00, 0xFFEF, 92),
]

TELLING = {
    0x00AB: '"', 0x00B2: "2", 0x00C6: "AE", 0x00D8: "O", 0x00DE: "TH", 0x00DF: "ss",
    0x0141: "L", 0x0152: "OE", 0x01C4: "DZ", 0x1E9E: "SS", 0x2013: "-", 0x2014: "-",
    0x2018: "'", 0x201C: '"', 0x2044: "/", 0x2460: "1", 0x2474: "(1)", 0x2487: "(20)",
    0x2488: "1.", 0x249C: "(a)", 0x24B6: "A", 0x2E28: "((", 0xFB03: "ffi", 0xFF01: "!",
    0xFF21: "A",
}
# Rows of the package that break the rule: the base letter in the wrong case, or (long s)
# the wrong base letter.
CORRECTIONS = {
    0x01E5: "g", 0x01E7: "g", 0x0297: "c", 0x1E9B: "s", 0x2C6F: "A", 0xA73E: "C",
    0xA784: "S", 0xA785: "s",
}
# Characters that must stay out of the table (they fold to a space).
ABSENT = [0x20AC, 0x2026, 0x00B0, 0x00AA, 0x00BA, 0x2122, 0x00A0]


def fetch_package():
    with tempfile.TemporaryDirectory(prefix="gen_asciimap.") as tmp:
        name = subprocess.run(["npm", "pack", PACKAGE, "--silent"], cwd=tmp, check=True,
                              capture_output=True, text=True).stdout.split()[-1]
        with tarfile.open(os.path.join(tmp, name)) as tar:
            return tar.extractfile("package/lib/ascii-folder.js").read().decode("utf-8")


def read_rows(text):
    rows = []
    for key, value in re.findall(r"\[0x([0-9A-Fa-f]+),\s*'((?:[^'\\]|\\.)*)'\]", text):
        value = re.sub(r"\\(.)", r"\1", value)
        rows.append((int(key, 16), value))
    return rows


def check(rows):
    keys = [k for k, _ in rows]
    assert len(rows) == 1242, len(rows)
    assert len(set(keys)) == len(keys), "a code point occurs twice"
    assert min(keys) == 0x00AB and max(keys) == 0xFF5E
    per_block = collections.Counter()
    for k in keys:
        block = [b for b in BLOCKS if b[1] <= k <= b[2]]
        assert block, f"U+{k:04X} lies outside the table's blocks"
        per_block[block[0][0]] += 1
    for name, _, _, expected in BLOCKS:
        assert per_block[name] == expected, (name, per_block[name], expected)
    lengths = collections.Counter(len(v) for _, v in rows)
    assert lengths == {1: 1072, 2: 111, 3: 48, 4: 11}, lengths
    assert all(0x20 <= ord(c) < 0x7F for _, v in rows for c in v), "replacement not ASCII"
    table = dict(rows)
    for k, v in TELLING.items():
        assert table.get(k) == v, (hex(k), table.get(k), v)
    for k in ABSENT:
        assert k not in table, hex(k)
    broken = [f"U+{k:04X} {v!r}" for k, v in rows if not follows_rule(k, v)]
    assert not broken, "rows break the rule: " + ", ".join(broken)


def follows_rule(key, value):
    """A letter folds to letters of its own case (small capitals are capitals in shape, and
    a title-case digraph keeps its first letter upper), and to the ASCII base letters that
    Unicode's decomposition gives where it gives any."""
    char = chr(key)
    category = unicodedata.category(char)
    if not category.startswith("L"):
        return True
    base = "".join(c for c in unicodedata.normalize("NFKD", char) if not unicodedata.combining(c))
    if base.isascii() and base.isalpha() and base != value:
        return False
    letters = [c for c in value if c.isalpha()]
    if not letters:
        return True
    if category == "Lt":
        return letters[0].isupper() and all(c.islower() for c in letters[1:])
    if category not in ("Lu", "Ll"):
        return True
    upper = category == "Lu" or "SMALL CAPITAL" in unicodedata.name(char, "")
    return all(c.isupper() == upper for c in letters)


def read_table(text):
    rows = []
    for key, value in re.findall(r'^\s*\{0x([0-9A-F]+), "((?:[^"\\]|\\.)*)"\},', text, re.M):
        rows.append((int(key, 16), re.sub(r"\\(.)", r"\1", value)))
    return rows


def decomposition_agreement(rows):
    same = 0
    for k, v in rows:
        base = "".join(c for c in unicodedata.normalize("NFKD", chr(k))
                       if not unicodedata.combining(c))
        same += base == v
    return same


def c_string(value):
    return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if len(sys.argv) > 2 and sys.argv[1] == "--check":
        with open(sys.argv[2], encoding="ascii") as f:
            check(read_table(f.read()))
        return
    if len(sys.argv) > 1 and sys.argv[1]:
        with open(sys.argv[1], encoding="utf-8") as f:
            source = f.read()
    else:
        source = fetch_package()
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "escpos", "asciimap_table.cpp")
    rows = sorted(read_rows(source))
    for k, v in CORRECTIONS.items():
        assert dict(rows).get(k) not in (None, v), f"U+{k:04X} needs no correction any more"
    rows = [(k, CORRECTIONS.get(k, v)) for k, v in rows]
    check(rows)
    print(f"gen_asciimap: {len(rows)} rows, {decomposition_agreement(rows)} of them as Unicode "
          "decomposition gives them", file=sys.stderr)
    lines = [
        f"// Generated by tools/gen_asciimap.py from the folding table of {PACKAGE} and the",
        "// script's corrections; do not edit by hand.",
        "// clang-format off",
        "",
        '#include "asciimap.h"',
        "",
        "namespace {",
        "",
        "struct FoldRow",
        "{",
        "    int codePoint;",
        "    const char* replacement;",
        "};",
        "",
        "const FoldRow foldRows[] = {",
    ]
    for k, v in rows:
        name = unicodedata.name(chr(k), "")
        lines.append(f"    {{0x{k:04X}, {c_string(v)}}}, // {name}")
    lines += [
        "};",
        "",
        "QMap<int, QString> buildAsciiMap()",
        "{",
        "    QMap<int, QString> map;",
        "    for (const FoldRow& row : foldRows)",
        "        map.insert(row.codePoint, QString::fromLatin1(row.replacement));",
        "    return map;",
        "}",
        "",
        "} // namespace",
        "",
        "const QMap<int, QString> asciiMap = buildAsciiMap();",
    ]
    with open(out, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
