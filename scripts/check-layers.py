#!/usr/bin/env python3
"""Holds every include of src/ to the layer table.

Each folder of src/ is a layer that may use only the layers below it. The
layers, bottom first, are the KEL_LAYERS list of the top CMakeLists.txt (the
one place they are written; the build makes one library per layer from the
same list, linked only downward). This check reads every C++ file under
src/, names the layer of each file and of each file it includes, and fails
when an include points to a higher layer, when a file or an include lies in
a folder that is no layer, or when docs/architecture.md's layer table does
not list the same layers in the same order.

    scripts/check-layers.py [--root DIR] [--list]

--list prints every include between two layers (file, line, target), not
only the faults. The exit status is 0 when everything holds, 1 otherwise.
"""

import argparse
import re
import sys
from pathlib import Path

SOURCE_SUFFIXES = {".cpp", ".h", ".inc"}
# Headers the build generates into its own directory: configuration that
# belongs to no layer.
GENERATED_HEADERS = {"build_info.h"}
# The program's entry (src/main.cpp) and the boot image writer sit above
# every layer.
ENTRY_FILES = {"main.cpp", "write_boot_image.cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_layers(root: Path) -> list[str]:
    text = (root / "CMakeLists.txt").read_text()
    found = re.search(r"^set\(KEL_LAYERS\s+([^)]*)\)", text, re.MULTILINE)
    if not found:
        sys.exit("check-layers: CMakeLists.txt has no set(KEL_LAYERS ...)")
    return found.group(1).split()


def documented_layers(root: Path) -> list[str]:
    """The folders of the layer table in docs/architecture.md, in order."""
    text = (root / "docs" / "architecture.md").read_text()
    section = re.search(r"^## Layers\n(.*?)(?=^## )", text, re.MULTILINE | re.DOTALL)
    if not section:
        return []
    return re.findall(r"^\|\s*`src/([^`]+?)/?`\s*\|", section.group(1), re.MULTILINE)


def layer_of(relative: str, layers: list[str]) -> str | None:
    """The layer a path under src/ belongs to: its deepest layer folder."""
    folder = str(Path(relative).parent)
    best = None
    for layer in layers:
        if folder == layer or folder.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    # A subfolder of a layer that is itself no layer is unknown, unless the
    # layer is exactly the folder.
    if best is not None and folder != best:
        return None
    return best


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=str(Path(__file__).resolve().parent.parent))
    parser.add_argument("--list", action="store_true", help="print every include between two layers")
    arguments = parser.parse_args()
    root = Path(arguments.root)
    source = root / "src"
    layers = read_layers(root)
    rank = {layer: index for index, layer in enumerate(layers)}
    faults: list[str] = []

    documented = documented_layers(root)
    if documented != layers:
        faults.append(f"docs/architecture.md lists the layers {documented}, CMakeLists.txt {layers}")

    edges: dict[tuple[str, str], int] = {}
    files = sorted(p for p in source.rglob("*") if p.suffix in SOURCE_SUFFIXES and p.is_file())
    for path in files:
        relative = str(path.relative_to(source))
        if relative in ENTRY_FILES:
            continue
        own = layer_of(relative, layers)
        if own is None:
            faults.append(f"src/{relative}: its folder is no layer (KEL_LAYERS in CMakeLists.txt)")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if "/" not in target:
                if target in GENERATED_HEADERS or (path.parent / target).exists():
                    continue
                faults.append(f"src/{relative}:{number}: includes \"{target}\", which names no folder")
                continue
            other = layer_of(target, layers)
            if other is None:
                faults.append(f"src/{relative}:{number}: includes \"{target}\", in no layer's folder")
                continue
            if not (source / target).exists():
                faults.append(f"src/{relative}:{number}: includes \"{target}\", which does not exist")
                continue
            if other != own:
                edges[(own, other)] = edges.get((own, other), 0) + 1
                if arguments.list:
                    print(f"src/{relative}:{number}: {own} -> {other} ({target})")
            if rank[other] > rank[own]:
                faults.append(f"src/{relative}:{number}: {own} includes \"{target}\" of the higher layer {other}")

    print("layers, bottom first: " + " < ".join(layers))
    for (own, other), count in sorted(edges.items(), key=lambda e: (rank[e[0][0]], rank[e[0][1]])):
        print(f"  {own:>12} uses {other:<12} {count:4d} includes")
    print(f"{len(files)} files checked")
    for fault in faults:
        print("FAULT " + fault)
    if faults:
        print(f"{len(faults)} fault{'s' if len(faults) != 1 else ''}")
        return 1
    print("every include points to the same layer or one below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
