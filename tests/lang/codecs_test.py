#!/usr/bin/env python3
"""The JSON and CSV codecs against independent decoders and third-party suites.

Usage: codecs_test.py <path of zan> [unittest options]

Python's json and csv modules are the oracles: documents and tables are
generated here (with a fixed seed), written by Python and read by zan, or
written by zan and read by Python, and the values compared. The third-party
suites are looked for at ../shared/conformance/ from the project's root (or
in ZAN_CONFORMANCE_DIR); their tests are skipped when the folder is absent.
Under ZAN_GC_STRESS the generated sets and the hostile inputs are smaller.
"""
import csv
import io
import json
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest

ZAN = None
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
STRESS = bool(os.environ.get("ZAN_GC_STRESS"))
INT_MIN, INT_MAX = -2**31, 2**31 - 1


def conformance_dir(name):
    base = os.environ.get("ZAN_CONFORMANCE_DIR") or os.path.join(ROOT, "..", "shared", "conformance")
    path = os.path.join(base, name)
    return path if os.path.isdir(path) else None


def zan_file(path):
    """A path in zan's file notation."""
    return "%" + path.replace(" ", "%20")


def run_zan(workdir, code, timeout=600):
    """Runs code as a script in workdir; returns its standard output."""
    script = os.path.join(workdir, "script.zan")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Zan []\n" + code)
    env = dict(os.environ, HOME=workdir)
    env.pop("ZAN_LIBRARY_DIR", None)
    p = subprocess.run([ZAN, script], cwd=workdir, env=env, capture_output=True, timeout=timeout)
    out = p.stdout.decode("utf-8", "replace")
    if p.returncode != 0:
        raise AssertionError("zan ended with status %d\nstdout:\n%s\nstderr:\n%s"
                             % (p.returncode, out[-3000:], p.stderr.decode("utf-8", "replace")[-3000:]))
    return out


def same(expected, got, path="$"):
    """Compares a Python value with zan's result as Python decoded it. An
    integer outside zan's 32-bit integers comes back as a float of the same
    value; everything else keeps its type."""
    if isinstance(expected, bool) or expected is None or isinstance(expected, str):
        if type(got) is not type(expected) or got != expected:
            raise AssertionError("%s: expected %r, got %r" % (path, expected, got))
    elif isinstance(expected, int):
        if INT_MIN <= expected <= INT_MAX:
            ok = type(got) is int and got == expected
        else:
            ok = type(got) is float and got == float(expected)
        if not ok:
            raise AssertionError("%s: expected %r, got %r" % (path, expected, got))
    elif isinstance(expected, float):
        if type(got) is not float or not (got == expected or (math.isnan(got) and math.isnan(expected))):
            raise AssertionError("%s: expected %r, got %r" % (path, expected, got))
    elif isinstance(expected, list):
        if type(got) is not list or len(got) != len(expected):
            raise AssertionError("%s: expected %r, got %r" % (path, expected, got))
        for i, (e, g) in enumerate(zip(expected, got)):
            same(e, g, "%s[%d]" % (path, i))
    elif isinstance(expected, dict):
        if type(got) is not dict or list(got.keys()) != list(expected.keys()):
            raise AssertionError("%s: expected keys %r, got %r"
                                 % (path, list(expected.keys()), got if type(got) is not dict else list(got.keys())))
        for k in expected:
            same(expected[k], got[k], "%s.%s" % (path, k))
    else:
        raise AssertionError("unexpected value %r" % (expected,))


# ---- generated data -------------------------------------------------------------------------------------

AWKWARD_CHARS = ['a', 'Z', ' ', '"', '\\', '/', '\b', '\f', '\n', '\r', '\t', '\x00', '\x1f', '\x7f',
                 'é', '中', '\u2028', '\ufeff', '\uffff', '😀', '\U0010FFFF', ',', ':', '{', ']']
KEYS = ['id', 'name', 'x-y', 'a?', 'café', 'has space', '1st', '', 'a:b', '"q"', '+', '-1', "it's",
        'UPPER', 'upper', 'tab\tkey', 'none', 'true']


def gen_string(rng):
    return ''.join(rng.choice(AWKWARD_CHARS) for _ in range(rng.randint(0, 12)))


def gen_number(rng):
    kind = rng.randint(0, 6)
    if kind == 0:
        return rng.randint(INT_MIN, INT_MAX)
    if kind == 1:
        return rng.choice([0, -1, 1, INT_MIN, INT_MAX, INT_MAX + 1, INT_MIN - 1, 2**53, -2**53])
    if kind == 2:
        return rng.uniform(-1e6, 1e6)
    if kind == 3:
        return rng.choice([0.0, -0.0, 0.1, 1e-300, 5e-324, 1.7976931348623157e308, 2.2250738585072014e-308,
                           1e21, 123456789.125, 0.30000000000000004])
    if kind == 4:
        return rng.random() * 10 ** rng.randint(-320, 300)
    return rng.randint(-1000, 1000)


def gen_value(rng, depth):
    kind = rng.randint(0, 9 if depth < 5 else 5)
    if kind == 0:
        return None
    if kind == 1:
        return rng.choice([True, False])
    if kind in (2, 3):
        return gen_number(rng)
    if kind in (4, 5):
        return gen_string(rng)
    if kind in (6, 7):
        return [gen_value(rng, depth + 1) for _ in range(rng.randint(0, 5))]
    return {rng.choice(KEYS): gen_value(rng, depth + 1) for _ in range(rng.randint(0, 5))}


def dump_variant(rng, doc):
    """Python's JSON text of doc, with a varying layout and escaping."""
    return json.dumps(doc, ensure_ascii=rng.choice([True, False]),
                      indent=rng.choice([None, None, 0, 2, "\t"]),
                      separators=rng.choice([None, (',', ':'), (' , ', ' : ')]))


CSV_VALUES = ['plain', '', ' ', 'a,b', 'say "hi"', '"', '""', 'line\nfeed', 'cr\rhere', 'crlf\r\nend',
              ' lead', 'trail ', 'tab\there', 'semi;colon', 'é中😀', 'none', 'false', "it's", '12', '-3.5']


def gen_table(rng, rows, width):
    return [[rng.choice(CSV_VALUES) + rng.choice(['', '', rng.choice(CSV_VALUES)]) for _ in range(width)]
            for _ in range(rows)]


# load-json reads plain text in one native pass and leaves the rest to its
# grammar, to-json writes plain values in one native pass and leaves the
# rest to its functions, to-csv does the same for rows of strings and
# integers and load-csv for text read without refinements. grammar-decode,
# slow-to-json and encode-blocks run the grammar and the functions alone
# (reached through the bodies of load-json, to-json and to-csv), and with
# strict? cleared load-csv leaves every text to its grammar, so that the two
# ways can be compared: same-by-both? on a JSON text, same-writing? on a
# value, same-csv-writing? on rows, same-csv-reading? on a CSV text.
GRAMMAR_DECODE = """
    find-word: func [b w /local r][
        foreach x b [
            if all [any-word? :x w = to word! :x][return to word! :x]
            if block? :x [if r: find-word x w [return r]]
        ]
        none
    ]
    reader: func [name][find-word body-of :load-json name]
    grammar-decode: func [text /local out][
        set reader '_out set reader '_res out: make block! 1
        set reader 'mark set reader 'last-lf text
        set reader 'line-ct 1
        clear get reader 'stack
        either parse/case text get reader 'json-value [first out][make error! "refused by the grammar"]
    ]
    writer: func [name][find-word body-of :to-json name]
    slow-to-json: func [v ind asc /local out init emit][
        init: get writer 'init-state
        emit: get writer 'zan-to-json-value
        out: make string! 100
        init ind asc
        emit out :v
        out
    ]
    same-writing?: func [v][
        all [
            (to-json :v) == slow-to-json :v none false
            (to-json/ascii :v) == slow-to-json :v none true
            (to-json/pretty :v "  ") == slow-to-json :v "  " false
        ]
    ]
    same-csv-writing?: func [rows delimiter /local encode][
        encode: get find-word body-of :to-csv 'encode-blocks
        (to-csv/with rows delimiter) == encode rows delimiter
    ]
    csv-strict: find-word body-of :load-csv 'strict?
    same-csv-reading?: func [text delimiter /local a b][
        a: load-csv/with text delimiter
        set csv-strict false
        b: load-csv/with text delimiter
        set csv-strict true
        either all [error? :a error? :b][a/arg1 == b/arg1][
            all [not error? :a not error? :b a == b]
        ]
    ]
    same-by-both?: func [text /local a b][
        a: try [load-json text]
        b: try [grammar-decode text]
        either all [error? :a error? :b][true][
            all [not error? :a not error? :b (mold/all :a) == mold/all :b]
        ]
    ]
"""


class Codecs(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name + "/"

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text, newline=None):
        with open(self.path(name), "w", encoding="utf-8", newline=newline) as f:
            f.write(text)

    def read(self, name):
        with open(self.path(name), encoding="utf-8", newline="") as f:
            return f.read()

    def run_parts(self, parts):
        """Runs the zan code of several parts in one process (one start-up)
        and hands each part's check the lines that part printed."""
        code = GRAMMAR_DECODE + "".join('print "== part %d"\n%s\n' % (i, c) for i, (c, _) in enumerate(parts))
        out = run_zan(self.dir, code + 'print "== end"\n')
        chunks = out.split("== part ")[1:]
        self.assertEqual(len(chunks), len(parts), out[-2000:])
        self.assertTrue(chunks[-1].endswith("== end\n"), out[-2000:])
        chunks[-1] = chunks[-1][:-len("== end\n")]
        for i, ((_, check), chunk) in enumerate(zip(parts, chunks)):
            head, _, body = chunk.partition("\n")
            self.assertEqual(head, str(i))
            check(body.splitlines())

    # Python encodes, zan decodes and encodes again (plain, /ascii and
    # /pretty), Python decodes zan's texts: the values must be the ones
    # generated, and zan's own load-json of to-json must give its value back.
    def json_round_trip_part(self):
        rng = random.Random(17)
        docs = [gen_value(rng, 0) for _ in range(3 if STRESS else 150)]
        for i, doc in enumerate(docs):
            self.write("in-%d.json" % i, dump_variant(rng, doc))
        code = """
            dir: %s
            repeat j %d [
                i: j - 1
                v: load-json read rejoin [dir "in-" i ".json"]
                if error? v [print ["decode failed" i v/arg1]]
                write rejoin [dir "plain-" i ".json"] to-json :v
                write rejoin [dir "ascii-" i ".json"] to-json/ascii :v
                write rejoin [dir "pretty-" i ".json"] to-json/pretty :v "  "
                unless :v = load-json to-json :v [print ["own round trip differs" i]]
                foreach t reduce [read rejoin [dir "in-" i ".json"] to-json :v to-json/pretty :v "  "][
                    unless same-by-both? t [print ["the two readers differ" i]]
                ]
                unless same-writing? :v [print ["the two writers differ" i]]
            ]
        """ % (zan_file(self.dir), len(docs))

        def check(lines):
            self.assertEqual(lines, [])
            for i, doc in enumerate(docs):
                for variant in ("plain", "ascii", "pretty"):
                    text = self.read("%s-%d.json" % (variant, i))
                    try:
                        same(doc, json.loads(text))
                    except AssertionError as e:
                        self.fail("document %d, %s output %r: %s" % (i, variant, text[:200], e))
                self.assertTrue(all(ord(c) < 128 for c in self.read("ascii-%d.json" % i)))
        return code, check

    # Python writes a table of awkward values (CR LF line ends, which make it
    # quote every line end), zan reads it; also with a semicolon delimiter.
    def csv_from_python_part(self):
        rng = random.Random(4180)
        tables = [gen_table(rng, rng.randint(1, 8), rng.randint(1, 5)) for _ in range(3 if STRESS else 60)]
        for i, table in enumerate(tables):
            for name, delim in (("comma", ","), ("semi", ";")):
                buf = io.StringIO()
                csv.writer(buf, delimiter=delim, lineterminator="\r\n").writerows(table)
                self.write("py-%s-%d.csv" % (name, i), buf.getvalue(), newline="")
        code = """
            dir: %s
            repeat j %d [
                i: j - 1
                write rejoin [dir "py-comma-" i ".json"] to-json load-csv read rejoin [dir "py-comma-" i ".csv"]
                write rejoin [dir "py-semi-" i ".json"] to-json load-csv/with read rejoin [dir "py-semi-" i ".csv"] #";"
                unless all [
                    same-csv-reading? read rejoin [dir "py-comma-" i ".csv"] #","
                    same-csv-reading? read rejoin [dir "py-semi-" i ".csv"] #";"
                ][print ["the two readers differ" i]]
            ]
            foreach [text delimiter] [
                {a,b^/"x"y,c} #"," {"unclosed,b^/c,d} #"," {a"b,"c""d"^M^/e,f^M} #","
                "a::b::c^/d::e::f" "::" "a:b::c" "::" ",^/," #"," "a^/^/b" #","
                {"a^M^/b",c^/d,e} #"," "x^-y^/z^-w" #"^-" "" #"," "^/^/^M" #"," {"q""q",x} #","
            ][
                unless same-csv-reading? text delimiter [print ["the two readers differ on" mold text]]
            ]
        """ % (zan_file(self.dir), len(tables))

        def check(lines):
            self.assertEqual(lines, [])
            for i, table in enumerate(tables):
                for name in ("comma", "semi"):
                    got = json.loads(self.read("py-%s-%d.json" % (name, i)))
                    self.assertEqual(got, table, "%s table %d" % (name, i))
        return code, check

    # Zan writes the tables with to-csv (and /with a semicolon), Python's
    # csv reader reads them back.
    def csv_to_python_part(self):
        rng = random.Random(8259)
        tables = [gen_table(rng, rng.randint(1, 8), rng.randint(1, 5)) for _ in range(3 if STRESS else 60)]
        tables.append([[""]])
        tables.append([["a", ""], ["", ""]])
        for i, table in enumerate(tables):
            self.write("table-%d.json" % i, json.dumps(table))
        code = """
            dir: %s
            repeat j %d [
                i: j - 1
                t: load-json read rejoin [dir "table-" i ".json"]
                write rejoin [dir "zan-comma-" i ".csv"] to-csv t
                write rejoin [dir "zan-semi-" i ".csv"] to-csv/with t #";"
                unless t = load-csv to-csv t [print ["own round trip differs" i]]
                unless same-csv-reading? to-csv t #"," [print ["the two readers differ on zan's text" i]]
                foreach d reduce [#"," #";" "::" tab] [
                    unless same-csv-writing? t d [print ["the two writers differ" i mold d]]
                ]
            ]
        """ % (zan_file(self.dir), len(tables))

        def check(lines):
            self.assertEqual(lines, [])
            for i, table in enumerate(tables):
                for name, delim in (("comma", ","), ("semi", ";")):
                    text = self.read("zan-%s-%d.csv" % (name, i))
                    rows = list(csv.reader(io.StringIO(text, newline=""), delimiter=delim))
                    self.assertEqual(rows, table, "%s table %d: %r" % (name, i, text))
        return code, check

    def test_python_oracles(self):
        self.run_parts([self.json_round_trip_part(), self.csv_from_python_part(), self.csv_to_python_part()])

    # JSONTestSuite: y_ accepted with Python's value, n_ rejected, i_ either
    # way; every file gets an answer (no crash). Under the stressed collector
    # every seventh file.
    def json_suite_part(self, suite):
        folder = os.path.join(suite, "test_parsing")
        names = sorted(n for n in os.listdir(folder) if n.endswith(".json"))
        if STRESS:
            names = names[::7]
        self.write("names.txt", "\n".join(names) + "\n")
        code = """
            src: %s
            dir: %s
            foreach name read/lines rejoin [dir "names.txt"] [
                r: try [load-json text: to string! read/binary rejoin [src name]]
                unless any [not string? text same-by-both? text][print [name "the two readers differ"]]
                text: none
                case [
                    all [error? r r/type = 'user] [print [name "reject"]]
                    error? r [print [name rejoin ["raised:" r/id]]]
                    true [
                        unless same-writing? :r [print [name "the two writers differ"]]
                        write rejoin [dir name] to-json :r
                        print [name "accept"]
                    ]
                ]
            ]
        """ % (zan_file(folder + "/"), zan_file(self.dir))

        def check(lines):
            results = dict(line.split(" ", 1) for line in lines)
            self.assertEqual(sorted(results), names)
            for name in names:
                result = results[name]
                if name.startswith("y_"):
                    self.assertEqual(result, "accept", name)
                    with open(os.path.join(folder, name), "rb") as f:
                        expected = json.loads(f.read().decode("utf-8"))
                    try:
                        same(expected, json.loads(self.read(name)))
                    except AssertionError as e:
                        self.fail("%s: %s" % (name, e))
                elif name.startswith("n_"):
                    # Rejected: the invalid-JSON error value, or, before the
                    # grammar runs, text that is not UTF-8, or nesting beyond
                    # the grammar's stack.
                    self.assertIn(result, ("reject", "raised:invalid-utf8", "raised:parse-stack"), name)
                else:
                    # Free to go either way; a lone surrogate in a \u escape
                    # raises invalid-data.
                    self.assertIn(result, ("accept", "reject", "raised:invalid-utf8", "raised:parse-stack",
                                           "raised:invalid-data"), name)
        return code, check

    # csv-spectrum: each file read with /header/as-records gives the records
    # of its JSON twin.
    def csv_spectrum_part(self, suite):
        names = sorted(n[:-4] for n in os.listdir(os.path.join(suite, "csvs")) if n.endswith(".csv"))
        code = """
            src: %s
            dir: %s
            foreach name [%s] [
                write rejoin [dir name ".csv.json"] to-json load-csv/header/as-records
                    read rejoin [src "csvs/" name ".csv"]
            ]
        """ % (zan_file(suite + "/"), zan_file(self.dir), " ".join('"%s"' % n for n in names))

        def check(lines):
            self.assertEqual(lines, [])
            for name in names:
                with open(os.path.join(suite, "json", name + ".json"), encoding="utf-8") as f:
                    expected = json.load(f)
                got = json.loads(self.read(name + ".csv.json"))
                if isinstance(expected, dict):
                    # This twin holds a single record whose values differ
                    # from its file's; only the shape can be compared.
                    self.assertEqual(len(got), 1, name)
                    self.assertEqual(list(got[0].keys()), list(expected.keys()), name)
                else:
                    self.assertEqual(got, expected, name)
        return code, check

    def test_conformance_suites(self):
        json_suite, csv_suite = conformance_dir("jsontestsuite"), conformance_dir("csv-spectrum")
        if not json_suite and not csv_suite:
            self.skipTest("conformance suites absent")
        parts = []
        if json_suite:
            parts.append(self.json_suite_part(json_suite))
        if csv_suite:
            parts.append(self.csv_spectrum_part(csv_suite))
        self.run_parts(parts)

    # Hostile input: the reader and writer answer with an error and the
    # process lives on.
    def test_hostile_json_input(self):
        deep = 2000 if STRESS else 100000
        nest = 300 if STRESS else 500
        big_mb = 1 if STRESS else 50
        csv_rows = 300 if STRESS else 200000
        with open(self.path("bad-utf8.json"), "wb") as f:
            f.write(b'["ok", "\xff\xfe"]')
        with open(self.path("bad-utf8.csv"), "wb") as f:
            f.write(b'a,b\n\xc3\x28,d\n')
        out = run_zan(self.dir, """
            report: func [label r][
                print [label either error? :r [rejoin [r/id " " any [r/arg1 ""]]][type? :r]]
            ]
            ; Nesting to 500 levels decodes (300 under the stressed
            ; collector); the parse stack ends deeper input with its own
            ; error.
            depth: func [open close n /local s v d][
                s: append/dup copy "" open n
                append s "1"
                v: load-json append/dup s close n
                d: 0
                while [any [block? v map? v]][d: d + 1 v: either block? v [first v][v/a]]
                d
            ]
            print ["depth" depth "[" "]" %d depth rejoin [#"{" {"a":}] "}" %d depth rejoin ["[" #"{" {"a":}] "}]" %d]
            s: append/dup copy "" "[" %d
            report "open arrays" try [load-json s]
            append/dup s "]" %d
            report "closed arrays" try [load-json s]
            report "open objects" try [load-json append/dup copy "" rejoin [#"{" {"a":}] %d]
            b: copy [] loop %d [b: reduce [b]]
            report "deep block" try [to-json b]
            report "unterminated" try [load-json {["abc}]
            report "unterminated escape" try [load-json {["abc\\}]
            report "lone low surrogate" try [load-json {"\\udc00"}]
            report "bad pair" try [load-json {"\\ud800\\u0041"}]
            report "invalid utf-8" try [load %%bad-utf8.json]
            chunk: append/dup copy "" "x" 1000000
            big: make string! %d * 1000010
            append big "["
            loop %d [append big {"} append big chunk append big {",}]
            append big {"\\u00e9\\ud83d\\ude00"]}
            r: load-json big
            print ["big" length? r length? first r last r]
            report "big truncated" load-json head clear back back tail big
            big: none
            rows: make block! %d
            loop %d [append/only rows ["a" {b,"c"} "d^/e" ""]]
            text: to-csv rows
            print ["big csv" length? text rows == load-csv text]
            report "csv open quote" load-csv {a,b^/c,d^/x,"y,z}
            report "csv invalid utf-8" try [load %%bad-utf8.csv]
            print "alive"
        """ % (nest, nest, nest // 2, deep, deep, deep, deep, big_mb, big_mb, csv_rows, csv_rows))
        lines = out.splitlines()
        expected = [
            "depth %d %d %d" % (nest, nest, nest),
            "open arrays parse-stack ",
            "closed arrays parse-stack ",
            "open objects parse-stack ",
            "deep block stack-overflow ",
            'unterminated message Invalid JSON string. Line: 1 Index: 1 Column: 0 Near: {["abc}',
            'unterminated escape message Invalid JSON string. Line: 1 Index: 1 Column: 0 Near: {["abc\\}',
            # A broken escape is the decoder's invalid-data, with the text.
            'lone low surrogate invalid-data \\udc00',
            'bad pair invalid-data \\ud800\\u0041',
            "invalid utf-8 invalid-utf8 #{FFFE225D}",
            "big %d 1000000 é😀" % (big_mb + 1),
        ]
        self.assertEqual(lines[:len(expected)], expected)
        # The position reported is after the last complete value: the comma
        # before the broken string.
        index = 1 + big_mb * 1000003
        self.assertEqual(lines[len(expected):], [
            "big truncated message Invalid JSON string. Line: 1 Index: %d Column: %d Near: "
            '{,"\\u00e9\\ud83d\\ude00}' % (index, index - 1),
            "big csv %d true" % (csv_rows * 19),
            # A quote that never closes reads as a plain value, so the last
            # row is one field longer than the others.
            "csv open quote message Data are not aligned",
            "csv invalid utf-8 invalid-utf8 #{C3282C64}",
            "alive"])


if __name__ == "__main__":
    ZAN = sys.argv.pop(1)
    result = unittest.main(exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    # Status 77 tells CTest that the test was skipped.
    sys.exit(77 if result.skipped and len(result.skipped) == result.testsRun else 0)
