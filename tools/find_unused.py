#!/usr/bin/env python3
"""Lists the functions of the product code that the product never calls.

Usage: tools/find_unused.py [build-dir] [--all] [--inline]

Reads every object file of a build (default: build/). An object belongs to
the product when its target is a library or executable of the product, and
to the tests when its target is a unit-test binary, a fuzz target or a
benchmark. For each external function that a product object defines
(`nm --defined-only`, type T), the script collects the objects that refer to
it: every relocation against the symbol outside the debugging and unwinding
sections (`readelf -r`), so a call from the defining file itself counts, and
so does an entry of an action, native or datatype table (the table's
relocation names the function). It prints the functions that no product
object refers to, split into "referred to only by tests" and "referred to
nowhere", with the file that defines each, and the two counts last.

An external function that the compiler inlined into every caller of its own
file keeps its out-of-line copy but leaves no relocation; such a function is
listed unless its name also occurs in a product source other than where it
is declared or defined ("named in source" below the lists, checked by hand).

With --inline, it also lists the inline functions of the headers (they are
emitted only where used, so nm cannot see an unused one) whose names occur
in no product source beyond their own definition.
"""
import os
import re
import subprocess
import sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT_DIRS = ["runtime", "boot", "console", "gui"]
TEST_DIRS = ["tests", "bench"]


def target_of(obj_path):
    """The CMake target an object file belongs to (the `<name>.dir` folder)."""
    for part in obj_path.split(os.sep):
        if part.endswith(".dir"):
            return part[:-4]
    return ""


def is_test_target(target, obj_path):
    return (target.endswith("_tests") or "fuzz" in target or "bench" in target
            or target == "zan_test_support" or os.sep + "bench" + os.sep in obj_path)


def objects(build):
    for dirpath, _, files in os.walk(build):
        for f in files:
            if f.endswith(".o"):
                yield os.path.join(dirpath, f)


def run(args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def defined_functions(obj):
    out = run(["nm", "--defined-only", obj])
    return [line.split()[2] for line in out.splitlines()
            if len(line.split()) == 3 and line.split()[1] == "T"]


SKIPPED_SECTIONS = (".rela.debug", ".rela.eh_frame", ".rela.gcc_except_table")


def referenced_symbols(obj):
    out = run(["readelf", "-rW", obj])
    refs = set()
    skipping = False
    for line in out.splitlines():
        if line.startswith("Relocation section"):
            name = line.split("'")[1]
            skipping = name.startswith(SKIPPED_SECTIONS)
            continue
        if skipping:
            continue
        fields = line.split()
        # Offset Info Type Sym.Value Sym.Name + Addend
        if len(fields) >= 5 and fields[2].startswith("R_"):
            refs.add(fields[4])
    return refs


def demangle(names):
    if not names:
        return {}
    proc = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True,
                          text=True, check=True)
    return dict(zip(names, proc.stdout.splitlines()))


def bare_name(demangled):
    head = demangled.split("(")[0]
    return head.split("::")[-1].split("<")[0].strip()


def source_files(dirs):
    for d in dirs:
        for dirpath, _, files in os.walk(os.path.join(ROOT, d)):
            for f in files:
                if f.endswith((".cpp", ".h", ".def", ".inc")):
                    yield os.path.join(dirpath, f)


def read_sources(dirs):
    texts = {}
    for path in source_files(dirs):
        with open(path, encoding="utf-8", errors="replace") as fh:
            texts[os.path.relpath(path, ROOT)] = fh.read()
    return texts


IDENT = re.compile(r"\b[A-Za-z_]\w*\b")


def index_lines(texts):
    """Each identifier of the sources, with the lines that name it."""
    index = defaultdict(list)
    for path, text in texts.items():
        for line in text.splitlines():
            if line.lstrip().startswith("//"):
                continue
            for word in set(IDENT.findall(line)):
                index[word].append((path, line))
    return index


NOT_TYPES = {"return", "else", "case", "throw", "delete", "new", "co_return", "do"}


def uses_in_sources(name, index):
    """Source lines that name `name` other than its declarations and definitions."""
    decl = re.compile(r"^\s*((?:[\w:<>,]+[\s*&]+)+)(?:\w+::)*" + re.escape(name) +
                      r"\s*\(.*(?:\)\s*(?:const\s*)?(?:noexcept\s*)?[;{]|,\s*$|\($)")
    uses = []
    for path, line in index.get(name, []):
        m = decl.match(line)
        if not m or m.group(1).split()[0] in NOT_TYPES:
            uses.append(path)
    return uses


def inline_header_functions(texts):
    pattern = re.compile(r"^\s*(?:static\s+|constexpr\s+|\[\[\w+\]\]\s+)*inline\s+[\w:<>,*&\s]+?\b(\w+)\s*\(",
                         re.M)
    found = []
    for path, text in texts.items():
        if path.endswith(".h"):
            for m in pattern.finditer(text):
                found.append((m.group(1), path))
    return found


def main():
    argv = [a for a in sys.argv[1:] if not a.startswith("--")]
    build = argv[0] if argv else os.path.join(ROOT, "build")
    defined_in = {}
    product_refs = set()
    test_refs = set()
    for obj in objects(build):
        target = target_of(obj)
        testing = is_test_target(target, obj)
        refs = referenced_symbols(obj)
        (test_refs if testing else product_refs).update(refs)
        if not testing:
            for sym in defined_functions(obj):
                defined_in[sym] = target
    names = demangle(sorted(defined_in))
    product_texts = read_sources(PRODUCT_DIRS)
    index = index_lines(product_texts)
    # The variants of one constructor or destructor (C1/C2, D0/D1/D2) share
    # a demangled name: a reference to any of them uses the function.
    by_name = defaultdict(list)
    for sym in defined_in:
        by_name[names[sym]].append(sym)
    test_only, nowhere, named = [], [], []
    for name, syms in by_name.items():
        if name == "main" or any(s in product_refs for s in syms):
            continue
        target = defined_in[syms[0]]
        if uses_in_sources(bare_name(name), index):
            named.append((name, target))
            continue
        tested = any(s in test_refs for s in syms)
        (test_only if tested else nowhere).append((name, target))
    for title, rows in (("referred to only by tests", test_only),
                        ("referred to nowhere", nowhere),
                        ("no relocation but named in product source (check by hand)", named)):
        print(f"== {title}: {len(rows)}")
        for name, target in sorted(rows, key=lambda r: (r[1], r[0])):
            print(f"  {target:16} {name}")
    if "--inline" in sys.argv:
        all_texts = product_texts
        rows = []
        for name, path in inline_header_functions(all_texts):
            if not uses_in_sources(name, index):
                rows.append((name, path))
        print(f"== inline header functions named nowhere else in the product: {len(rows)}")
        for name, path in sorted(set(rows), key=lambda r: (r[1], r[0])):
            print(f"  {path:40} {name}")
    print(f"test-only: {len(test_only)}  nowhere: {len(nowhere)}")


if __name__ == "__main__":
    main()
