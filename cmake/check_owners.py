#!/usr/bin/env python3
"""Checks that facts with one owner stay with their owner: each rule below
names a piece of code that may appear only in the owner's files, so a second
copy creeping back into another folder is reported.

Usage: check_owners.py SOURCE_ROOT

Prints one "file:line: reason" per stray copy and exits with 1 when there is
any; 0 when every rule holds.
"""
import os
import re
import sys

SOURCE_EXTENSIONS = ('.h', '.hpp', '.c', '.cc', '.cpp', '.inc', '.ipp')

# (pattern, files allowed to hold it, whether tests and benchmarks may hold
# it too, what to use instead)
RULES = [
    (re.compile(r'"/proc/self/exe"'), {'core/ProgramFolder.cpp'}, False,
     'the program folder is read by ProgramFolder() / ProgramBinFolder() (core/ProgramFolder.h)'),
    # Tests may rename and link to set up their folders.
    (re.compile(r'\b(?:rename|renameat2?|link|linkat|mk(?:o)?stemps?|f(?:data)?sync)\s*\('),
     {'core/TempFile.cpp'}, True,
     'a file is written and committed through TOutputFile, moved by RenameNoReplace (core/TempFile.h)'),
    # The resize methods are named in one table; the rest of the program
    # prints them through ResizeModeDescriptor.
    (re.compile(r'"(?:Lanczos|Bilinear|Bicubic|BlackmanSinc|Spline16|Spline36|Gaussian|NearestNeighbor)'),
     {'resample/Weight.cpp'}, True,
     'resize methods are named by ResizeModeTable / ResizeModeDescriptor (resample/Weight.h)'),
    # A start-up hook installed by the initialiser of a namespace-scope flag
    # runs only when the linker happens to keep its file; no file owns that.
    (re.compile(r'\bbool\s+\w+\s*=\s*\(\s*(?:Register\w*\s*\(|\w+Hook\s*=)'), set(), False,
     'a hook is installed by its Register... function, called explicitly at start-up'),
]


def is_test_or_bench(rel):
    parts = rel.split('/')
    return parts[0] == 'bench' or 'tests' in parts[:-1]

# Literals are matched first so that "//" or "/*" inside one starts no comment.
TOKEN = re.compile(r'"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|//[^\n]*|/\*.*?\*/', re.S)


def blank_comments(text):
    """The text with comments replaced by spaces and line breaks kept, so
    that a comment may mention what it explains."""
    return TOKEN.sub(lambda m: m.group(0) if m.group(0)[0] in '"\'' else re.sub(r'[^\n]', ' ', m.group(0)),
                     text)


def source_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if not d.startswith('.') and
                             not os.path.isfile(os.path.join(dirpath, d, 'CMakeCache.txt')))
        for name in sorted(filenames):
            if name.endswith(SOURCE_EXTENSIONS):
                yield os.path.join(dirpath, name)


def check_tree(root, rules=RULES):
    problems = []
    for path in source_files(root):
        rel = os.path.relpath(path, root).replace(os.sep, '/')
        with open(path, encoding='utf-8', errors='replace') as f:
            text = blank_comments(f.read())
        for pattern, owners, tests_too, instead in rules:
            if rel in owners or (tests_too and is_test_or_bench(rel)):
                continue
            for m in pattern.finditer(text):
                number = text.count('\n', 0, m.start()) + 1
                problems.append(f'{rel}:{number}: {m.group(0)} outside its owner; {instead}')
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    problems = check_tree(os.path.abspath(argv[1]))
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} stray copies of owned code')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
