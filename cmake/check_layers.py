#!/usr/bin/env python3
"""Checks that every #include between the top-level folders follows the layer
order written in cmake/layers.txt.

Usage: check_layers.py SOURCE_ROOT [LAYER_FILE]

Prints one "file:line: reason" per faulty include and exits with 1 when there
is any; 0 when every include goes to the including file's own layer or below.
"""
import os
import re
import sys

SOURCE_EXTENSIONS = ('.h', '.hpp', '.c', '.cc', '.cpp', '.inc', '.ipp')
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def read_layers(path):
    """Returns ({folder: rank}, set of folders that may include anything)."""
    rank = {}
    top = set()
    with open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.split('#', 1)[0].strip()
            if not line:
                continue
            names = line.split()
            if names[0] == '*':
                top.update(names[1:])
                continue
            for name in names:
                if name in rank or name in top:
                    raise SystemExit(f'{path}:{number}: folder "{name}" is listed twice')
                rank[name] = number
    return rank, top


def source_folders(root):
    """Top-level folders that join the build or hold headers and sources;
    build folders (with a CMakeCache.txt) are not sources."""
    found = []
    for d in os.listdir(root):
        path = os.path.join(root, d)
        if d.startswith('.') or not os.path.isdir(path):
            continue
        if os.path.isfile(os.path.join(path, 'CMakeCache.txt')):
            continue
        if os.path.isfile(os.path.join(path, 'CMakeLists.txt')) or any(
                n.endswith(SOURCE_EXTENSIONS) for n in os.listdir(path)):
            found.append(d)
    return sorted(found)


def check_file(root, path, folder, rank, top, known):
    problems = []
    rel = os.path.relpath(path, root)
    here = os.path.dirname(path)
    with open(path, encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            quoted, target = m.group(1) == '"', m.group(2).strip()
            first = target.split('/', 1)[0]
            where = f'{rel}:{number}'
            if first in known:
                if first == folder or folder in top:
                    continue
                if first not in rank and first not in top:
                    continue  # reported once as a folder missing from the layer file
                if first in top:
                    problems.append(f'{where}: includes "{target}" from {first}/, '
                                    f'which no layer may include')
                elif rank[first] > rank[folder]:
                    problems.append(f'{where}: includes "{target}" from the higher '
                                    f'layer {first}/ into {folder}/')
                continue
            if not quoted:
                continue  # a system or third-party header
            if target.startswith('..') or '/../' in target:
                problems.append(f'{where}: includes "{target}" by a relative path; '
                                f'use the folder-qualified path')
            elif not os.path.isfile(os.path.join(here, target)):
                problems.append(f'{where}: includes "{target}", which is not beside it; '
                                f'use the folder-qualified path')
    return problems


def check_tree(root, layer_file):
    rank, top = read_layers(layer_file)
    problems = []
    folders = source_folders(root)
    for folder in folders:
        if folder not in rank and folder not in top:
            problems.append(f'{folder}/: folder missing from {os.path.relpath(layer_file, root)}')
    known = set(folders) | set(rank) | top
    for folder in folders:
        if folder not in rank and folder not in top:
            continue
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, folder)):
            dirnames.sort()
            for name in sorted(filenames):
                if name.endswith(SOURCE_EXTENSIONS):
                    problems += check_file(root, os.path.join(dirpath, name), folder,
                                           rank, top, known)
    return problems


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = os.path.abspath(argv[1])
    layer_file = argv[2] if len(argv) == 3 else os.path.join(root, 'cmake', 'layers.txt')
    problems = check_tree(root, layer_file)
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} include(s) break the layer order of {layer_file}')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
