#!/usr/bin/env python3
"""scripts/check-structure against small trees with one known fault each."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(ROOT, "scripts", "check-structure")

# Two rooms: core (plain) and core/ui (widgets), the window room linking the core.
CLEAN = {
    "CMakeLists.txt": "add_subdirectory(core)\n",
    "core/CMakeLists.txt": "# core\nadd_library(core STATIC Engine.cpp Engine.h)\n"
                           "add_library(core_ui STATIC ui/Window.cpp)\n"
                           "target_link_libraries(core_ui PUBLIC core Qt6::Widgets)\n",
    "core/Engine.h": "#pragma once\n#include <QString>\n\nint engine();\n",
    "core/Engine.cpp": '#include "core/Engine.h"\n\nint engine() {\n    return 1;\n}\n',
    "core/ui/Window.cpp": '#include "core/Engine.h"\n\n#include <QWidget>\n\nint window() {\n    return engine();\n}\n',
}

FAULTS = [
    ("engine code includes a widget header",
     {"core/Engine.h": "#pragma once\n#include <QWidget>\n\nint engine();\n"},
     "engine code includes the widget header <QWidget>"),
    ("a room includes a room it does not link",
     {"core/CMakeLists.txt": "add_library(core STATIC Engine.cpp Engine.h)\n"
                             "add_library(core_ui STATIC ui/Window.cpp)\n"
                             "target_link_libraries(core_ui PUBLIC Qt6::Widgets)\n"},
     "core_ui includes core/Engine.h of core, which it does not link"),
    ("rooms in a circle",
     {"core/CMakeLists.txt": CLEAN["core/CMakeLists.txt"] + "target_link_libraries(core PUBLIC core_ui)\n"},
     "rooms link each other in a circle: core -> core_ui -> core"),
    ("an engine library links widgets",
     {"core/CMakeLists.txt": CLEAN["core/CMakeLists.txt"] + "target_link_libraries(core PUBLIC Qt6::Widgets)\n"},
     "core: engine library links Qt6::Widgets"),
    ("a file no library lists",
     {"core/Stray.cpp": "int stray() {\n    return 2;\n}\n"},
     "core/Stray.cpp: listed by no library"),
    ("a file over 600 lines",
     {"core/Engine.cpp": '#include "core/Engine.h"\n\n' + "int engine();\n" * 600},
     "core/Engine.cpp: 602 lines, more than 600"),
    ("a file clang-format would change",
     {"core/Engine.cpp": '#include "core/Engine.h"\n\nint   engine( ) {return 1;}\n'},
     "core/Engine.cpp: differs from clang-format's layout"),
]


def make_tree(folder, files):
    shutil.copy(os.path.join(ROOT, ".clang-format"), folder)
    for path, text in files.items():
        full = os.path.join(folder, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)


def run_check(files):
    with tempfile.TemporaryDirectory() as folder:
        make_tree(folder, files)
        done = subprocess.run([sys.executable, CHECK, folder], capture_output=True, text=True)
        return done.returncode, done.stdout + done.stderr


class CheckStructure(unittest.TestCase):
    def test_clean_tree_passes(self):
        code, out = run_check(CLEAN)
        self.assertEqual(code, 0, out)

    def test_each_fault_fails_the_check(self):
        for name, change, expected in FAULTS:
            with self.subTest(name):
                code, out = run_check({**CLEAN, **change})
                self.assertEqual(code, 1, out)
                self.assertIn(expected, out)


if __name__ == "__main__":
    unittest.main()
