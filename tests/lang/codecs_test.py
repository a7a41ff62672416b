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


def zan_string(text):
    """A string literal of zan holding text."""
    return '"%s"' % text.replace("^", "^^").replace('"', '^"').replace("\n", "^/").replace("\t", "^-")


def zan_file(path):
    """A path in zan's file notation."""
    return "%" + path.replace(" ", "%20")


def run_zan(workdir, code, timeout=600, full_stack=False):
    """Runs code as a script in workdir; returns its standard output. With
    full_stack, zan has the whole of its evaluation stacks even where the
    test run holds it to a part (ZAN_STACK_DIVISOR)."""
    script = os.path.join(workdir, "script.zan")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Zan []\n" + code)
    env = dict(os.environ, HOME=workdir)
    env.pop("ZAN_LIBRARY_DIR", None)
    if full_stack:
        env.pop("ZAN_STACK_DIVISOR", None)
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
        either all [error? :a error? :b][a/id == b/id][
            all [not error? :a not error? :b (mold/all :a) == mold/all :b]
        ]
    ]
    ; The texts that load-json has handed to its grammar so far.
    declined: func [][get reader 'declined]
    ; Whether load-json handed the text to its grammar exactly when the
    ; grammar gives no value for it, and then with the grammar's result.
    declines-right?: func [text /local before r g][
        before: declined
        r: try [load-json text]
        g: try [grammar-decode text]
        all [
            (declined > before) = error? :g
            either error? :g [all [error? :r r/id == g/id]][(mold/all :r) == mold/all :g]
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

    def run_parts(self, parts, full_stack=False):
        """Runs the zan code of several parts in one process (one start-up)
        and hands each part's check the lines that part printed."""
        code = GRAMMAR_DECODE + "".join('print "== part %d"\n%s\n' % (i, c) for i, (c, _) in enumerate(parts))
        out = run_zan(self.dir, code + 'print "== end"\n', full_stack=full_stack)
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
            ; Every generated text is valid JSON: none went to the grammar.
            unless 0 = declined [print ["declined" declined]]
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

    # Text decoding beside Python's: read gives what the byte-at-a-time
    # loader of to-string gives (text or the invalid-utf8 error), Python's
    # strict decoding for valid UTF-8 (a leading byte-order mark dropped);
    # the output of a child captured into a string! is Python's decoding
    # with errors replaced, also when a sequence is cut between two reads
    # of the pipe, and appended to what the string held (widening it).
    # Overlong forms and the surrogates D800-DBFF stay accepted by the
    # strict loader, as they were: for those only the two zan paths are
    # compared.
    def test_utf8_decoding_against_python(self):
        cases = [
            b"", b"plain ascii", "h\u00e9llo caf\u00e9".encode(), "\u65e5\u672c\u8a9e".encode(),
            "emoji \U0001F600 and \u20ac".encode(), b"\xef\xbb\xbfwith a mark \xc3\xa9",
            b"x" * 15 + "\u00e9".encode() + b"y" * 40, b"z" * 33 + "\U0001F680".encode() + b"!" * 17,
            "\u00ff\u0100\uffff\U0010FFFF".encode(), b"abc\x80def", b"\xff", b"\xc3(", b"ab\xe2\x82",
            b"a" * 20 + b"\xc3", b"\xf0\x9f\x98", b"\xed\xb0\x80x", b"\xf4\x90\x80\x80",
            b"\xf8\x88\x80\x80\x80",
            b"\xc0\xaf", b"\xed\xa0\x80", b"q" * 16 + b"\xe0\x80\x80" + b"r" * 16,
        ]
        lenient_only = {len(cases) - 3, len(cases) - 2, len(cases) - 1}
        rng = random.Random(36)
        pieces = ["abc ", "\u00e9", "\u20ac", "\U0001F600", "\u65e5", "\n"]
        big = bytearray()
        while len(big) < 200000:
            if rng.random() < 0.02:
                big += rng.choice([b"\xff", b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98", b"\x80"])
            else:
                big += rng.choice(pieces).encode()
        cases.append(bytes(big))
        for i, data in enumerate(cases):
            with open(self.path("in-%d.bin" % i), "wb") as f:
                f.write(data)
        code = """
            dir: %s
            repeat j %d [
                i: j - 1
                f: rejoin [dir "in-" i ".bin"]
                a: try [read f]
                b: try [to string! read/binary f]
                either error? a [
                    print ["read" i "error" a/id mold a/arg1]
                    unless all [error? b b/id = a/id b/arg1 = a/arg1] [print ["paths differ" i]]
                ][
                    unless a == b [print ["paths differ" i]]
                    write rejoin [dir "read-" i ".txt"] a
                ]
                s: copy either odd? i ["x\u20ac"][""]
                call/output rejoin ["cat " to-local-file f] s
                write rejoin [dir "call-" i ".txt"] s
                bin: copy #{}
                call/output rejoin ["cat " to-local-file f] bin
                unless bin = read/binary f [print ["binary capture differs" i]]
            ]
        """ % (zan_file(self.dir), len(cases))
        lines = run_zan(self.dir, code).splitlines()
        self.assertFalse([l for l in lines if not l.startswith("read ")], lines)
        errors = {int(l.split()[1]): l for l in lines}
        for i, data in enumerate(cases):
            try:
                text = data.decode("utf-8-sig")
            except UnicodeDecodeError:
                text = None
            if i in lenient_only:
                self.assertIsNone(text)
            elif text is None:
                self.assertIn(i, errors, "case %d %r: no invalid-utf8" % (i, data[:40]))
                self.assertIn("error invalid-utf8", errors[i])
            else:
                self.assertNotIn(i, errors)
                with open(self.path("read-%d.txt" % i), "rb") as f:
                    self.assertEqual(f.read().decode("utf-8"), text, "case %d" % i)
            with open(self.path("call-%d.txt" % i), "rb") as f:
                got = f.read().decode("utf-8")
            prefix = "x\u20ac" if i % 2 else ""
            self.assertEqual(got, prefix + data.decode("utf-8", "replace"), "case %d" % i)

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
                unless any [not string? text declines-right? text][print [name "declined wrongly"]]
                text: none
                case [
                    all [error? r r/type = 'user] [print [name "reject"]]
                    error? r [print [name rejoin ["raised:" r/id]]]
                    ; A number too large for a float reads as infinite,
                    ; which has no JSON text to write back.
                    error? try [to-json :r] [print [name "unwritable"]]
                    true [
                        unless same-writing? :r [print [name "the two writers differ"]]
                        write rejoin [dir name] to-json :r
                        print [name "accept"]
                    ]
                ]
            ]
        """ % (zan_file(folder + "/"), zan_file(self.dir))

        def check(lines):
            # One result line per file; any other line is a fault found.
            verdicts = ("accept", "reject", "raised:", "unwritable")
            faults = [line for line in lines if not line.split(" ", 1)[1].startswith(verdicts)]
            self.assertEqual(faults, [])
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
                    # raises invalid-data; only a number beyond a float's
                    # range may be read and then refused by the writer.
                    allowed = ["accept", "reject", "raised:invalid-utf8", "raised:parse-stack", "raised:invalid-data"]
                    if "huge_exp" in name or "overflow" in name:
                        allowed.append("unwritable")
                    self.assertIn(result, allowed, name)
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
        # The JSON suite nests arrays 500 deep, and writing them back
        # recurses that deep: it needs the whole evaluation stack.
        self.run_parts(parts, full_stack=True)

    # The native reader against the grammar on the texts where they could
    # part: keys at the edge of the word form, numbers of every form and
    # length, broken and whole surrogate pairs, and nesting at the very
    # depth where the grammar's rule stack is full (found by bisection with
    # the grammar alone), outermost and inside another parse. Each text goes
    # to the grammar exactly when the grammar gives no value for it.
    def test_native_reader_against_grammar(self):
        keys = ["a", "A", "x-y?", "+", "-", "-1", "+1", "+a", "-a", "--", "+-", ".", ".5", "a.b", "..",
                "a'b", "it's", "x'", "'a", "é", "ça", "名前", "città", "😀", "a😀", "~", "`", "a`b", "&", "*",
                "=", "==", "!", "?", "a!", "!a", "|", "a|b", "_", "e1", "e-1", "1st", "1", "a b", r"a\u00a0b",
                "@type", "$ref", "#x", "%", "a:b", "a/b", "a,b", "a;b", "a<b", "a>b", "a^b", "(", "{", "[",
                r"\u0000", r"a\u0001b", r"\u007f", r"a\u0085", r"\u2028", r"\ud83d\ude00", r"\u00e9t\u00e9",
                "true", "none", "self", "", " ", r"a\tb", r"a\nb", "1x2", "-1x2", "1.2.3", "$1", "US$1",
                "1-Jan-2000", "10:00", "#{00}", "a@b", "http://x", "%f", "<t>", "1%", "1e5", "-1e5"]
        numbers = ["0", "-0", "-0.0", "0.0", "1", "-1", "9", "123456789", "-123456789", "1234567890",
                   "2147483647", "-2147483648", "2147483648", "-2147483649", "99999999999",
                   "12345678901234567890", "1e5", "1E5", "1e+5", "1E-5", "-1.5e-3", "0.1e1", "1e400", "-1e400",
                   "1e-400", "4.9e-324", "2.2250738585072011e-308", "1.7976931348623157e308",
                   "1.7976931348623159e308", "0.30000000000000004", "1e0000000000000000000000000001",
                   "1" + "0" * 300, "1" + "0" * 311, "1" + "0" * 312, "0." + "0" * 309 + "1",
                   "0." + "0" * 310 + "1", "1." + "5" * 400, "01", "-", "1.", ".1", "1e", "1e+", "+1", "--1",
                   "0x10", "1_0", "Infinity", "NaN"]
        # String bodies as they stand in the JSON text.
        strings = [r"\ud800", r"\ud800\u0041", r"\udc00", r"\udbff\udfff", r"\ud83d\ude00", r"\uD83D\uDE00",
                   r"x\ud800", r"\ud800\\udc00", r"\ud800\ud800\udc00", r"\u00e9", r"\u12", r"\u12G4", r"\x",
                   r"\/\b\f\n\r\t\\\"", r"tab\u0009", r"\u0000", "raw\ttab", "é中😀"]
        texts = ['{"%s": 1}' % k for k in keys] + ['{"a": 0, "%s": [1]}' % k for k in keys]
        texts += numbers + ["[%s]" % n for n in numbers] + ['{"n": %s}' % n for n in numbers]
        texts += ['"%s"' % t for t in strings] + ['{"%s": 1}' % t for t in strings]
        texts += ["", " ", "[1,]", "[1 2]", "{,}", '{"a"}', '{"a":}', "[", "]", "nul", "true false",
                  "\ufeff[1]", " [ ] ", "\t{\r\n}\n", "[[[[]]]]"]
        if STRESS:
            texts = texts[::9]
        self.write("texts.json", json.dumps(texts))
        # Levels that open a nesting (each is closed again by its twin), and
        # the values at the bottom.
        levels = [("[", "]"), ("[0, ", "]"), ('{"k":', "}"), ('{"a": 0,\n "k": ', "}"),
                  (r'{"\u00e9":', "}"), ('[ {"k": [', "]}]"), ('[1.5e3, {"k": ', "}]")]
        leaves = ["1", "-1.5e3", '"s"', r'"\u00e9"', "true", "[]", "{}", '{"a": 1}', r'{"\u00e9": []}', '[0, ""]']
        rng = random.Random(36)
        shapes = [([0], "1"), ([1], "[]"), ([2], '"s"'), ([3], "{}"), ([4], "true")]
        for _ in range(3 if STRESS else 8):
            period = [rng.randrange(len(levels)) for _ in range(rng.randint(1, 3))]
            shapes.append((period, rng.choice(leaves)))
        low = 100
        if STRESS:
            # Each collection under stress walks the whole heap: one shape,
            # searched near its known depth.
            shapes, low = shapes[:1], 650
        shape_code = " ".join("[%s] %s" % (" ".join(str(i + 1) for i in p), zan_string(leaf))
                              for p, leaf in shapes)
        levels_code = " ".join("[%s %s]" % (zan_string(o), zan_string(c)) for o, c in levels)
        out = run_zan(self.dir, GRAMMAR_DECODE + """
            foreach text load-json read %%texts.json [
                unless same-by-both? text [print ["the two readers differ on" mold text]]
                unless declines-right? text [print ["declined wrongly" mold text]]
            ]
            levels: [%s]
            nest: func [period leaf n /local s closes][
                s: copy "" closes: copy ""
                loop n [foreach i period [append s first levels/:i insert closes second levels/:i]]
                rejoin [s leaf closes]
            ]
            ; The most repetitions of the period that the grammar reads, by
            ; itself or from the paren of an outer parse.
            deepest: func [period leaf nested /local lo hi mid ok][
                lo: %d hi: 700
                while [lo < hi][
                    mid: to integer! (lo + hi + 1) / 2
                    ok: either nested [
                        parse "x" [skip (r: try [grammar-decode nest period leaf mid])]
                        not error? r
                    ][not error? try [grammar-decode nest period leaf mid]]
                    either ok [lo: mid][hi: mid - 1]
                ]
                lo
            ]
            foreach [period leaf] [%s] [
                foreach nested [%s][
                    n: deepest period leaf nested
                    before: declined
                    either nested [
                        parse "x" [skip (a: try [load-json nest period leaf n] b: try [load-json nest period leaf n + 1])]
                    ][
                        a: try [load-json nest period leaf n]
                        b: try [load-json nest period leaf n + 1]
                    ]
                    unless all [
                        n > 100
                        not error? a
                        error? b
                        b/id = 'parse-stack
                        declined = (before + 1)
                    ][print ["at the depth limit" mold period mold leaf nested n mold/flat/part a 80 mold/flat/part b 80 declined - before]]
                ]
            ]
            print "done"
        """ % (levels_code, low, shape_code, "true" if STRESS else "false true"))
        self.assertEqual(out.splitlines(), ["done"])

    # The native writer against the writer's functions on the values where
    # they could part: removed map entries, percents, strings whose units
    # are wider than their characters, keys of other types, indentation
    # of wide characters, nesting around the native writer's depth limit,
    # values it leaves to the functions. (That nesting needs the whole
    # evaluation stack, so the run keeps it.)
    def test_native_writer_against_functions(self):
        out = run_zan(self.dir, GRAMMAR_DECODE + """
            m: make map! [a 1 b 2 "c d" 3 e 4]
            remove/key m 'b
            remove/key m "c d"
            gone: make map! [x 1]
            remove/key gone 'x
            wide: "abc" append wide "中" remove back tail wide
            wider: "x" append wider "😀" remove back tail wider
            deep: func [n /local b][b: copy [] loop n - 1 [b: reduce [b]] b]
            depth-of: func [m /local d][d: 0 while [map? m][d: d + 1 m: m/k] d]
            values: reduce [
                m gone wide wider reduce [wide wider] make map! reduce [wide 1 wider 2]
                [50% 12.5% -0.5% 0%] make map! [1 "one" #"c" 2] make object! [a: 1 b: [2]]
                reduce [none true false -2147483648 2147483647 1.5e-7 -0.0 1e300]
                {"quote \\ back / slash ^-^/^M^H^L ^@ ^(1F) ^(7F) ^(80) ^(FF) ^(FFFF) ^(10FFFF)}
                deep 400 reduce [1 'word %file <tag> [a b]] make map! reduce ['k deep 300]
            ]
            foreach v values [
                unless same-writing? :v [print ["the two writers differ on" mold/flat/part :v 60]]
                foreach ind ["→ " "^-" ""] [
                    unless (to-json/pretty :v ind) == slow-to-json :v ind false [
                        print ["the two writers differ, indented by" mold ind mold/flat/part :v 60]
                    ]
                ]
            ]
            ; The functions run out of call stack some hundreds of levels
            ; down (nested maps sooner than blocks), above what load-json
            ; reads; the native writer goes to 1000 levels, beyond which
            ; the functions take the value and run out of stack as before.
            nested-maps: func [n /local m][m: 1 loop n [m: make map! reduce ['k m]] m]
            ; Each value, and whether load-json can read it back.
            foreach [v back?] reduce [deep 1000 false nested-maps 999 false load-json to-json nested-maps 554 true][
                t: to-json :v
                unless all [
                    any [not back? 554 = depth-of load-json t]
                    t == rejoin either block? :v [
                        [append/dup copy "" "[" 1000 append/dup copy "" "]" 1000]
                    ][
                        [append/dup copy "" "{^\"k^\":" d: depth-of :v "1" append/dup copy "" "}" d]
                    ]
                ][print ["deep value written wrongly" length? t]]
            ]
            r: try [to-json deep 1001]
            unless all [error? r r/id = 'stack-overflow][print ["deeper than the native writer:" mold/flat/part r 80]]
            print "done"
        """, full_stack=True)
        self.assertEqual(out.splitlines(), ["done"])

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
