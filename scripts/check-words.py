#!/usr/bin/env python3
"""Checks the recovery word list: 2048 distinct words of 3 to 8 lowercase letters, sorted, one a
line, no two of them sharing their first four letters (so that four letters name a word)."""
import re
import sys
from pathlib import Path

path = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src/sync/crypto/words.txt")
words = path.read_text(encoding="ascii").split("\n")
if words and words[-1] == "":
    words.pop()
problems = []
if len(words) != 2048:
    problems.append(f"{len(words)} words, not 2048")
for number, word in enumerate(words, 1):
    if not re.fullmatch(r"[a-z]{3,8}", word):
        problems.append(f"line {number}: {word!r} is not 3 to 8 lowercase letters")
if words != sorted(words):
    problems.append("the words are not in sorted order")
if len(set(words)) != len(words):
    problems.append("some words appear twice")
prefixes = {}
for word in words:
    prefixes.setdefault(word[:4], []).append(word)
for prefix, sharing in sorted(prefixes.items()):
    if len(sharing) > 1:
        problems.append(f"{', '.join(sharing)} share the first letters {prefix!r}")
for problem in problems:
    print(f"{path}: {problem}", file=sys.stderr)
sys.exit(1 if problems else 0)
