#!/usr/bin/env python3
"""The layer check on small trees made here: each case adds one include to a
clean three-layer tree and names the report line it must (or must not) give."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402

LAYERS = '''# bottom to top
low
mid
high
* tools
'''

# (case, file, line written into it, expected report or None for a clean tree)
CASES = [
    ('own folder', 'mid/A.cpp', '#include "mid/A.h"', None),
    ('lower layer', 'high/B.cpp', '#include "low/L.h"', None),
    ('system header', 'mid/A.cpp', '#include <vector>', None),
    ('file beside it', 'mid/tests/T.cpp', '#include "Util.h"', None),
    ('top folder reaches every layer', 'tools/X.cpp', '#include "high/H.h"', None),
    ('higher layer', 'low/L.cpp', '#include "mid/A.h"',
     'low/L.cpp:2: includes "mid/A.h" from the higher layer mid/ into low/'),
    ('higher layer in angle brackets', 'low/L.cpp', '#include <high/H.h>',
     'low/L.cpp:2: includes "high/H.h" from the higher layer high/ into low/'),
    ('higher layer from a test', 'mid/tests/T.cpp', '#  include "high/H.h"',
     'mid/tests/T.cpp:2: includes "high/H.h" from the higher layer high/ into mid/'),
    ('top folder', 'high/B.cpp', '#include "tools/X.h"',
     'high/B.cpp:2: includes "tools/X.h" from tools/, which no layer may include'),
    ('another folder unqualified', 'high/B.cpp', '#include "L.h"',
     'high/B.cpp:2: includes "L.h", which is not beside it; use the folder-qualified path'),
    ('relative path', 'low/L.cpp', '#include "../mid/A.h"',
     'low/L.cpp:2: includes "../mid/A.h" by a relative path; use the folder-qualified path'),
]


def make_tree(root):
    files = {
        'low/CMakeLists.txt': '', 'low/L.h': '', 'low/L.cpp': '// low\n',
        'mid/CMakeLists.txt': '', 'mid/A.h': '', 'mid/A.cpp': '// mid\n',
        'mid/tests/T.cpp': '// test\n', 'mid/tests/Util.h': '',
        'high/CMakeLists.txt': '', 'high/H.h': '', 'high/B.cpp': '// high\n',
        'tools/CMakeLists.txt': '', 'tools/X.h': '', 'tools/X.cpp': '// tool\n',
        'cmake/layers.txt': LAYERS,
    }
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w', encoding='utf-8') as f:
            f.write(text)


class LayerCheck(unittest.TestCase):
    def test_each_include_is_judged_by_the_layer_order(self):
        for case, name, line, expected in CASES:
            with self.subTest(case), tempfile.TemporaryDirectory() as root:
                make_tree(root)
                with open(os.path.join(root, name), 'a', encoding='utf-8') as f:
                    f.write(line + '\n')
                problems = check_layers.check_tree(root, os.path.join(root, 'cmake', 'layers.txt'))
                self.assertEqual(problems, [expected] if expected else [])

    def test_a_folder_missing_from_the_layer_file_is_reported(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root)
            os.makedirs(os.path.join(root, 'extra'))
            open(os.path.join(root, 'extra', 'CMakeLists.txt'), 'w').close()
            problems = check_layers.check_tree(root, os.path.join(root, 'cmake', 'layers.txt'))
            self.assertEqual(problems, ['extra/: folder missing from cmake/layers.txt'])

    def test_a_header_folder_missing_from_the_layer_file_is_reported(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root)
            os.makedirs(os.path.join(root, 'helpers'))
            open(os.path.join(root, 'helpers', 'Env.h'), 'w').close()
            os.makedirs(os.path.join(root, 'build'))
            open(os.path.join(root, 'build', 'CMakeCache.txt'), 'w').close()
            open(os.path.join(root, 'build', 'Probe.cpp'), 'w').close()
            with open(os.path.join(root, 'mid', 'A.cpp'), 'a', encoding='utf-8') as f:
                f.write('#include "helpers/Env.h"\n')
            problems = check_layers.check_tree(root, os.path.join(root, 'cmake', 'layers.txt'))
            self.assertEqual(problems, ['helpers/: folder missing from cmake/layers.txt'])

    def test_the_exit_status_tells_a_broken_tree_from_a_clean_one(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root)
            self.assertEqual(check_layers.main(['check', root]), 0)
            with open(os.path.join(root, 'low', 'L.h'), 'a', encoding='utf-8') as f:
                f.write('#include "high/H.h"\n')
            self.assertEqual(check_layers.main(['check', root]), 1)


if __name__ == '__main__':
    unittest.main()
