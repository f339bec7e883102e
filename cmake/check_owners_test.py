#!/usr/bin/env python3
"""The owner check on small trees made here: each case writes one file and
names the report line it must (or must not) give."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_owners  # noqa: E402

COMMIT = 'a file is written and committed through TOutputFile, moved by RenameNoReplace (core/TempFile.h)'
KERNEL = 'resize methods are named by ResizeModeTable / ResizeModeDescriptor (resample/Weight.h)'
HOOK = 'a hook is installed by its Register... function, called explicitly at start-up'
EXE = 'the program folder is read by ProgramFolder() / ProgramBinFolder() (core/ProgramFolder.h)'

# (case, file, text written into it, expected reports)
CASES = [
    ('owner reads the program link', 'core/ProgramFolder.cpp',
     'n = readlink("/proc/self/exe", b, s);\n', []),
    ('second reader in another folder', 'io/Pixio.cpp',
     '// binds\nn = ::readlink("/proc/self/exe", b, s);\n',
     [f'io/Pixio.cpp:2: "/proc/self/exe" outside its owner; {EXE}']),
    ('second reader in a test', 'io/tests/T.cpp',
     'auto p = std::filesystem::read_symlink("/proc/self/exe");\n',
     [f'io/tests/T.cpp:1: "/proc/self/exe" outside its owner; {EXE}']),
    ('line comment may mention it', 'io/Pixio.cpp', '// not "/proc/self/exe" here\n', []),
    ('block comment may mention it', 'io/Pixio.cpp', '/* not\n "/proc/self/exe" */ int x;\n', []),
    ('a literal holding // starts no comment', 'io/Pixio.cpp',
     's = "a//b"; t = "/proc/self/exe";\n',
     [f'io/Pixio.cpp:1: "/proc/self/exe" outside its owner; {EXE}']),
    ('owner commits by rename', 'core/TempFile.cpp', 'if (::rename(a, b) != 0) x();\n', []),
    ('second temporary writer', 'batch/Copy.cpp',
     'int fd = ::mkostemp(name, O_CLOEXEC);\nfsync(fd);\nstd::rename(a, b);\n',
     [f'batch/Copy.cpp:1: mkostemp( outside its owner; {COMMIT}',
      f'batch/Copy.cpp:2: fsync( outside its owner; {COMMIT}',
      f'batch/Copy.cpp:3: rename( outside its owner; {COMMIT}']),
    ('exclusive commit by link', 'tools/t/t.cpp', 'ok = link(tmp, target) == 0;\n',
     [f'tools/t/t.cpp:1: link( outside its owner; {COMMIT}']),
    ('unlink and names ending in rename are no commits', 'batch/A.cpp',
     'unlink(p); TryRename(a); RenameNoReplace(a, b);\n', []),
    ('a test sets up its folder by rename', 'batch/tests/T.cpp', 'std::filesystem::rename(a, b);\n', []),
    ('a test still finds the program folder by its owner', 'batch/tests/T.cpp',
     'readlink("/proc/self/exe", b, s);\n', [f'batch/tests/T.cpp:1: "/proc/self/exe" outside its owner; {EXE}']),
    ('a second list of method names', 'batch/Names.cpp',
     'case 2: s = "Lanczos" + std::to_string(r); break;\ncase 7: s = "Spline36"; break;\n',
     [f'batch/Names.cpp:1: "Lanczos outside its owner; {KERNEL}',
      f'batch/Names.cpp:2: "Spline36 outside its owner; {KERNEL}']),
    ('a method name inside a longer text is no list', 'bench/b.cpp', 'run("RGBi_Lanczos3_6000");\n', []),
    ('a hook registered by a static initialiser', 'io/ExifReader.cpp',
     'namespace {\nconst bool Registered = (RegisterExifProbe(), true);\n}\n',
     [f'io/ExifReader.cpp:2: bool Registered = (RegisterExifProbe( outside its owner; {HOOK}']),
    ('a hook assigned by a static initialiser', 'plugins/Host.cpp',
     'static const bool Installed = (ExtractArchiveMemberHook = Extract, true);\n',
     [f'plugins/Host.cpp:1: bool Installed = (ExtractArchiveMemberHook = outside its owner; {HOOK}']),
    ('a registration called at start-up is no initialiser', 'app/Main.cpp',
     'int main() {\n  RegisterLoadSusieImage(LoadWithPlugin);\n  bool ok = (Count == 0);\n}\n', []),
]


class OwnerCheck(unittest.TestCase):
    def test_owned_code_is_found_outside_its_owner_only(self):
        for case, name, text, expected in CASES:
            with self.subTest(case), tempfile.TemporaryDirectory() as root:
                path = os.path.join(root, name)
                os.makedirs(os.path.dirname(path))
                with open(path, 'w', encoding='utf-8') as f:
                    f.write(text)
                self.assertEqual(check_owners.check_tree(root), expected)

    def test_build_folders_are_not_sources(self):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, 'build', 'gen'))
            open(os.path.join(root, 'build', 'CMakeCache.txt'), 'w').close()
            with open(os.path.join(root, 'build', 'gen', 'X.cpp'), 'w') as f:
                f.write('"/proc/self/exe"\n')
            self.assertEqual(check_owners.check_tree(root), [])

    def test_exit_status_says_whether_the_tree_is_clean(self):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, 'io'))
            path = os.path.join(root, 'io', 'A.cpp')
            with open(path, 'w') as f:
                f.write('int a;\n')
            self.assertEqual(check_owners.main(['check', root]), 0)
            with open(path, 'w') as f:
                f.write('auto p = "/proc/self/exe";\n')
            self.assertEqual(check_owners.main(['check', root]), 1)


if __name__ == '__main__':
    unittest.main()
