#!/usr/bin/env python3
"""Prints the test lines (tests/, fuzz/) as a share of the product lines (src/, app/, cli/,
sim/), blank and comment lines left out."""
import os
import re
import sys

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXT = (".h", ".cpp", ".py", ".sh")


def code_lines(path):
    n, in_block = 0, False
    hash_comments = path.endswith((".py", ".sh"))
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            s = line.strip()
            if in_block:
                if "*/" in s:
                    in_block = False
                    s = s.split("*/", 1)[1].strip()
                else:
                    continue
            if not s:
                continue
            if hash_comments and s.startswith("#"):
                continue
            if not hash_comments:
                if s.startswith("//"):
                    continue
                if s.startswith("/*"):
                    if "*/" not in s:
                        in_block = True
                    continue
            n += 1
    return n


def count(folders):
    total = 0
    for folder in folders:
        for dirpath, _, files in os.walk(os.path.join(top, folder)):
            total += sum(code_lines(os.path.join(dirpath, f)) for f in files if f.endswith(EXT))
    return total


product = count(["src", "app", "cli", "sim"])
tests = count(["tests", "fuzz"])
share = 100.0 * tests / product
print(f"product {product} lines, tests {tests} lines: {share:.1f} %")
sys.exit(0 if len(sys.argv) < 2 or share <= float(sys.argv[1]) else 1)
