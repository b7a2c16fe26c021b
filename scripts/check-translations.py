#!/usr/bin/env python3
"""Checks that every Japanese string literal in src/ has a finished English translation.

A literal counts as translated when its text (blanks and separators around it trimmed) is
the source of a finished message in one of the translation files, or, for the pieces a
message is put together from, part of a finished source with placeholders (%1, %2, ...).
Usage: check-translations.py [--list]   (--list prints the missing texts one a line)
"""
import pathlib
import re
import sys
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parent.parent
JAPANESE = re.compile("[\u3000-\u9fff\uff00-\uffef]")
SEPARATORS = " \t\n():<>\"',"
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'", "r": "\r"}


def literals(code):
    """The string literals of a C++ source, adjacent ones joined, comments skipped."""
    found = []  # (start, end, text)
    i, n = 0, len(code)
    while i < n:
        if code.startswith("//", i):
            i = code.find("\n", i)
            i = n if i < 0 else i
        elif code.startswith("/*", i):
            i = code.find("*/", i + 2) + 2
        elif code[i] == "'":
            j = i + 1
            while code[j] != "'":
                j += 2 if code[j] == "\\" else 1
            i = j + 1
        elif code.startswith('R"', i) and not (code[i - 1].isalnum() or code[i - 1] == "_"):
            open_paren = code.index("(", i)
            delim = code[i + 2:open_paren]
            close = code.index(")" + delim + '"', open_paren)
            found.append((i, close + len(delim) + 2, code[open_paren + 1:close]))
            i = close + len(delim) + 2
        elif code[i] == '"':
            j, parts = i + 1, []
            while code[j] != '"':
                if code[j] == "\\":
                    parts.append(ESCAPES.get(code[j + 1], code[j + 1]))
                    j += 2
                else:
                    parts.append(code[j])
                    j += 1
            found.append((i, j + 1, "".join(parts)))
            i = j + 1
        else:
            i += 1
    out = []
    for k, (begin, end, text) in enumerate(found):
        if k > 0 and code[found[k - 1][1]:begin].strip() == "":
            out[-1] += text
        else:
            out.append(text)
    return out


def finished_sources():
    finished = set()
    for ts in sorted((ROOT / "translations").glob("*.ts")):
        for message in ElementTree.parse(ts).getroot().iter("message"):
            translation = message.find("translation")
            if translation is None or translation.get("type") in ("unfinished", "vanished",
                                                                  "obsolete"):
                continue
            if (translation.text or "").strip():
                finished.add(message.findtext("source"))
    return finished


def main():
    finished = finished_sources()
    patterns = [s for s in finished if re.search(r"%\d", s)]
    missing = []
    for path in sorted((ROOT / "src").rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        for text in literals(path.read_text(encoding="utf-8")):
            if not JAPANESE.search(text):
                continue
            # Blanks and the separators a message is joined with do not count; a printf
            # conversion stands for the number the catalogue writes as %1, %2, ...
            trimmed = text.strip(SEPARATORS)
            count = iter(range(1, 100))
            trimmed = re.sub(r"%[-0-9.]*[dsfu]", lambda _: f"%{next(count)}", trimmed)
            if trimmed in finished or text in finished:
                continue
            if any(trimmed in pattern for pattern in patterns):
                continue
            missing.append((path.relative_to(ROOT), text))
    if "--list" in sys.argv:
        for _, text in missing:
            print(text.replace("\n", "\\n"))
        return 0
    for path, text in missing:
        print(f"{path}: no finished translation: {text!r}")
    print(f"translations: {len(missing)} Japanese text(s) without a finished translation")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
