#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer above its own.

The folders of the product are stacked in layers (docs/architecture.md,
"Layers"). A file may include headers of its own layer and of the layers
below it, never of a layer above: that is what keeps each layer buildable
and testable without the ones on top of it. Every source folder must have a
place in LAYERS, so a new folder is placed in the stack when it is made.
Every quoted include names its header from the project root: a relative
one ("x.h", "../core/x.h") is reported, with the layer of the header it
reaches, so that no include escapes the check.

Usage: check_layers.py [root]     (root defaults to the project root)
       check_layers.py --self-test
"""
import os
import re
import shutil
import sys
import tempfile

# Lowest first. Folders on one line form one layer and may include each
# other; the longest matching folder decides where a file belongs.
LAYERS = [
    ["runtime/core"],
    ["runtime/terminal", "runtime/digest", "runtime/image"],
    ["runtime/datatypes", "runtime/typesystem"],
    ["runtime/io"],
    ["runtime/eval"],
    ["console"],
    ["gui"],
    ["boot"],
]

# The folders whose sources are checked (tests and benchmarks may use any layer).
SOURCE_ROOTS = ["runtime", "console", "gui", "boot"]
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".def", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]')


def layer_of(path):
    """The layer index and folder of a root-relative path, or (None, None)."""
    best = (None, None)
    for level, folders in enumerate(LAYERS):
        for folder in folders:
            if path.startswith(folder + "/") and (best[1] is None or len(folder) > len(best[1])):
                best = (level, folder)
    return best


def source_files(root):
    for top in SOURCE_ROOTS:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")


def relative_target(path, included):
    """The root-relative path a relative quoted include reaches, or None when
    the include is written from the project root."""
    if layer_of(included)[0] is not None or included.split("/")[0] in SOURCE_ROOTS:
        return None
    here = os.path.dirname(path)
    return os.path.normpath(os.path.join(here, included)).replace(os.sep, "/")


def violations(root):
    """Messages for each upward include, each relative include and each file
    outside every layer."""
    found = []
    for path in source_files(root):
        level, folder = layer_of(path)
        if level is None:
            found.append(f"{path}: its folder has no place in the layers (tools/check_layers.py)")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                if m.group(0).rstrip().endswith('"'):
                    reached = relative_target(path, target)
                    if reached is not None:
                        found.append(f"{path}:{number}: relative include \"{target}\" (reaches "
                                     f"{reached}); write it from the project root")
                        target = reached
                target_level, target_folder = layer_of(target)
                if target_level is not None and target_level > level:
                    found.append(f"{path}:{number}: {folder} (layer {level}) includes "
                                 f"{target} from {target_folder} (layer {target_level})")
    return found


def self_test():
    """The check must see an upward include and a folder outside the layers."""
    roots = []

    def tree(files):
        root = tempfile.mkdtemp(prefix="zan_layers_")
        roots.append(root)
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
        return root

    clean = tree({"runtime/core/a.h": "#pragma once\n",
                  "runtime/io/lexer/b.cpp": '#include "runtime/core/a.h"\n#include "runtime/io/zanbin/z.h"\n',
                  "runtime/io/zanbin/z.h": '#include "runtime/datatypes/d.h"\n',
                  "runtime/datatypes/d.h": '#include "runtime/typesystem/t.h"\n',
                  "runtime/typesystem/t.h": '#include "runtime/datatypes/d.h"\n',
                  "boot/main.cpp": '#include "gui/g.h"\n#include <vector>\n'})
    upward = tree({"runtime/core/a.h": '#include "runtime/terminal/console_out.h"\n',
                   "runtime/io/compress/c.cpp": '  #  include "runtime/eval/digest/d.h"\n',
                   "console/e.cpp": '#include <gui/g.h>\n'})
    stray = tree({"runtime/newfolder/x.cpp": "int x;\n"})
    # A relative include is reported, and so is the layer of what it reaches.
    relative = tree({"runtime/core/a.h": '#include "b.h"\n',
                     "runtime/core/b.h": "#pragma once\n",
                     "runtime/io/lexer/l.cpp": '#include "../../eval/e.h"\n'})
    failures = []
    if violations(clean):
        failures.append("a clean tree was reported: %s" % violations(clean))
    up = violations(upward)
    if len(up) != 3:
        failures.append("expected 3 upward includes, got: %s" % up)
    if len(violations(stray)) != 1:
        failures.append("a folder outside the layers was not reported")
    rel = violations(relative)
    if len(rel) != 3 or not any("runtime/eval/e.h from runtime/eval" in m for m in rel):
        failures.append("expected 2 relative includes and the upward one they reach, got: %s" % rel)
    for root in roots:
        shutil.rmtree(root)
    for message in failures:
        print("self-test:", message)
    return 1 if failures else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = violations(root)
    for message in found:
        print(message)
    if found:
        print(f"{len(found)} include(s) break the layering")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
