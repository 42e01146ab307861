#!/usr/bin/env python3
"""The layer check itself: on small trees made here, it passes a tree whose
includes all point down and names each fault of one that breaks the layers
(an include of a higher layer, a folder that is no layer, an include of a
file that does not exist, a documented table out of step with the list).

    check_layers_test.py CHECK_SCRIPT
"""

import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

CHECK = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "scripts" / "check-layers.py"

CMAKE = "project(x)\nset(KEL_LAYERS runtime datatypes gui gui/terminal boot)\n"
DOC_ROWS = ["runtime", "datatypes", "gui", "gui/terminal", "boot"]


def doc(rows):
    table = "\n".join(f"| `src/{row}/` | things | below |" for row in rows)
    return f"# Architecture\n\n## Layers\n\n| folder | holds | may use |\n|---|---|---|\n{table}\n\n## Next\n"


class CheckLayers(unittest.TestCase):
    def tree(self, files, rows=DOC_ROWS):
        root = Path(tempfile.mkdtemp(prefix="layers-"))
        self.addCleanup(shutil.rmtree, root)
        (root / "CMakeLists.txt").write_text(CMAKE)
        (root / "docs").mkdir()
        (root / "docs" / "architecture.md").write_text(doc(rows))
        for name, text in files.items():
            path = root / "src" / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        return root

    def run_check(self, root):
        done = subprocess.run([sys.executable, str(CHECK), "--root", str(root)], capture_output=True, text=True)
        faults = [line for line in done.stdout.splitlines() if line.startswith("FAULT ")]
        return done.returncode, faults

    def test_includes_that_point_down_pass(self):
        root = self.tree({
            "runtime/cell.h": "",
            "datatypes/block.h": '#include "runtime/cell.h"\n',
            "gui/face.h": '#include "datatypes/block.h"\n',
            "gui/terminal/screen.cpp": '#include "gui/face.h"\n#include "screen.h"\n',
            "gui/terminal/screen.h": "",
            "boot/entry.cpp": '#include "gui/terminal/screen.h"\n#include "build_info.h"\n',
            "main.cpp": '#include "boot/entry.h"\n',
        })
        self.assertEqual(self.run_check(root), (0, []))

    def test_each_fault_is_named(self):
        root = self.tree({
            "runtime/cell.h": '#include "datatypes/block.h"\n',
            "datatypes/block.h": '#include "runtime/missing.h"\n',
            "gui/face.h": '#include "gui/terminal/screen.h"\n',
            "gui/terminal/screen.h": "",
            "tools/extra.h": "",
        })
        status, faults = self.run_check(root)
        self.assertEqual(status, 1)
        self.assertEqual(sorted(faults), sorted([
            'FAULT src/runtime/cell.h:1: runtime includes "datatypes/block.h" of the higher layer datatypes',
            'FAULT src/datatypes/block.h:1: includes "runtime/missing.h", which does not exist',
            'FAULT src/gui/face.h:1: gui includes "gui/terminal/screen.h" of the higher layer gui/terminal',
            "FAULT src/tools/extra.h: its folder is no layer (KEL_LAYERS in CMakeLists.txt)",
        ]))

    def test_the_documented_table_follows_the_list(self):
        root = self.tree({"runtime/cell.h": ""}, rows=["datatypes", "runtime", "gui", "gui/terminal", "boot"])
        status, faults = self.run_check(root)
        self.assertEqual(status, 1)
        self.assertEqual(len(faults), 1)
        self.assertIn("docs/architecture.md lists the layers", faults[0])


if __name__ == "__main__":
    unittest.main()
