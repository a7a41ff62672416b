"""The JSON set of bench/compare: load-json and to-json beside Python's json.

Used by `bench/compare --json`. Generates two kinds of documents (with a
fixed seed, once per size, cached in the temporary folder given):

  nested  an array of records nested four to six levels deep (objects of
          objects, arrays of objects), their text in many scripts: accented
          Latin, Greek, Cyrillic, CJK, emoji, escapes and plain ASCII; keys
          plain, non-ASCII, and such as "@type", "$ref", "has space", "1st"
  flat    an array of flat records of a dozen fields: integers, floats,
          short ASCII strings, booleans and null

and runs as separate processes, interleaved (each script in each language
once, then again, N times), scripts that read the file, decode it
(load-json, json.loads) and, for the encoding jobs, encode the value
(to-json, json.dumps with the compact separators and without escaping
non-ASCII). The jobs:

  load-json nested 19 MB, nested 3.4 MB   the decoding
  load-json + to-json flat 20 MB          the decoding and the encoding
  to-json nested 19 MB                    the encoding

Each time is the processor time (user + system) of that work alone,
measured inside the process (zan reads /proc/self/stat, in hundredths of a
second; Python's time.process_time), the best of the runs; the peak is the
child's own peak resident memory (wait4) over its whole run, the file's
text included, the smallest of the runs. Both programs print the number of
records; a difference is reported.
"""
import json
import os
import random
import subprocess
import sys

# (job, kind, megabytes, the script, what is timed: "load" or "write")
JOBS = [
    ("load-json nested 19 MB", "nested", 19, "load", ["load"]),
    ("load-json nested 3.4 MB", "nested", 3.4, "load", ["load"]),
    ("load-json + to-json flat 20 MB", "flat", 20, "load+write", ["load", "write"]),
    ("to-json nested 19 MB", "nested", 19, "load+write", ["write"]),
]
QUICK_MB = {19: 1.0, 3.4: 0.2, 20: 1.0}

WORDS = {
    "latin": ["café", "naïve", "Zürich", "Ærøskøbing", "façade", "jalapeño", "Łódź", "smörgåsbord"],
    "greek": ["αλφα", "Ωμέγα", "λόγος", "φιλοσοφία"],
    "cyrillic": ["привет", "Москва", "дружба", "жёлтый"],
    "cjk": ["東京", "中文字符", "한국어", "日本語のテキスト", "漢字"],
    "emoji": ["😀", "🚀", "🎉👍", "🧪"],
    "ascii": ["alpha", "beta", "gamma", "delta", "the quick brown fox", "lorem ipsum dolor",
              "a \"quoted\" word", "path\\to\\file", "tab\there", "line\nbreak"],
}
SCRIPTS = list(WORDS)


def text(rng, n):
    return " ".join(rng.choice(WORDS[rng.choice(SCRIPTS)]) for _ in range(n))


def nested_record(rng, i):
    return {
        "id": i,
        "guid": "%08x-%04x" % (rng.getrandbits(32), rng.getrandbits(16)),
        "active": rng.random() < 0.5,
        "balance": round(rng.uniform(-1e4, 1e5), 2),
        "user": {
            "name": text(rng, 2),
            "email": "user%d@example.com" % rng.randint(0, 10**6),
            "location": {"city": text(rng, 1), "coords": [rng.uniform(-90, 90), rng.uniform(-180, 180)],
                         "tz": rng.choice(["UTC", "Europe/Zürich", "Asia/東京", None])},
            "tags": [text(rng, 1) for _ in range(rng.randint(0, 4))],
        },
        "posts": [{
            "title": text(rng, 3),
            "body": text(rng, rng.randint(5, 25)),
            "likes": rng.randint(0, 5000),
            "ratio": rng.random(),
            "comments": [{"author": text(rng, 1), "text": text(rng, rng.randint(2, 10)),
                          "score": rng.randint(-10, 100), "flags": {"spam": False, "edited": rng.random() < 0.2}}
                         for _ in range(rng.randint(0, 3))],
        } for _ in range(rng.randint(0, 3))],
        "i18n": {"名前": text(rng, 1), "città": text(rng, 1), "@type": "Person", "$ref": "#/users/%d" % i,
                 "has space": rng.randint(0, 9), "1st": rng.random() < 0.5, "x-y?": None},
        "meta": {"created": "2021-%02d-%02dT%02d:00:00Z" % (rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23)),
                 "version": rng.randint(1, 9), "extra": None, "big": rng.randint(-2**40, 2**40),
                 "small": rng.choice([1e-300, 5e-324, 1.5e300, -0.0, 12345.678e10])},
    }


def flat_record(rng, i):
    return {
        "id": i,
        "first_name": rng.choice(["John", "Mary", "Ahmed", "Li", "Olga", "Pedro", "Anna", "Tom"]),
        "last_name": rng.choice(["Smith", "Jones", "Khan", "Wang", "Petrova", "Silva", "Berg"]),
        "email": "person%d@example.org" % rng.randint(0, 10**7),
        "age": rng.randint(18, 90),
        "balance": round(rng.uniform(0, 100000), 2),
        "score": rng.random(),
        "active": rng.random() < 0.7,
        "city": rng.choice(["London", "Paris", "Berlin", "Madrid", "Rome", "Oslo", "Lisbon"]),
        "zip": "%05d" % rng.randint(0, 99999),
        "visits": rng.randint(0, 100000),
        "note": None,
    }


def make_document(kind, mb):
    """The JSON text (UTF-8 bytes) of about mb megabytes, and its record count."""
    rng = random.Random(36 if kind == "nested" else 20)
    make = nested_record if kind == "nested" else flat_record
    parts, size, i = [], 0, 0
    while size < mb * 1e6:
        part = json.dumps(make(rng, i), ensure_ascii=rng.random() < 0.1 if kind == "nested" else True)
        parts.append(part)
        size += len(part.encode("utf-8")) + 2
        i += 1
    return ("[" + ",\n".join(parts) + "]").encode("utf-8"), i


def document_path(folder, kind, mb):
    """The file of a generated document, made once. It is made by a child
    process: a child's peak memory counts the parent's at the time it was
    started, so the parent stays small."""
    path = os.path.join(folder, "%s-%s.json" % (kind, mb))
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.abspath(__file__), kind, str(mb), path], check=True)
    return path


# The scripts read the file, then decode it (load-json, json.loads) and in
# "load+write" encode the value (to-json, json.dumps with the compact
# separators and no escaping of non-ASCII), and print the processor time
# (user + system, read from /proc/self/stat by zan) of the decoding and of
# the encoding, the number of records and the length of the text written.
ZAN_CPU = """cpu: func [/local f x][
    f: copy [] parse read %%/proc/self/stat [some [copy x to " " skip (append f x)]]
    (to integer! f/14) + (to integer! f/15) / 100.0
]
"""
ZAN = {
    "load": ZAN_CPU + 's: read %%%s\nt: cpu\nv: load-json s\nt: cpu - t\nprint [t 0 length? v 0]\n',
    "load+write": ZAN_CPU + 's: read %%%s\nt: cpu\nv: load-json s\nt: cpu - t\n'
                  'w: cpu\nj: to-json v\nw: cpu - w\nprint [t w length? v length? j]\n',
}
PY = {
    "load": 'import json, time\ns = open(%r, encoding="utf-8").read()\nt = time.process_time()\n'
            'v = json.loads(s)\nt = time.process_time() - t\nprint(t, 0, len(v), 0)\n',
    "load+write": 'import json, time\ns = open(%r, encoding="utf-8").read()\nt = time.process_time()\n'
                  'v = json.loads(s)\nt = time.process_time() - t\nw = time.process_time()\n'
                  'j = json.dumps(v, ensure_ascii=False, separators=(",", ":"))\n'
                  'w = time.process_time() - w\nprint(t, w, len(v), len(j))\n',
}


def measure_with_output(argv, tmp):
    """(cpu seconds, peak MB, output) of one run of argv, its output kept in a file."""
    out_path = os.path.join(tmp, "out.txt")
    pid = os.fork()
    if pid == 0:
        try:
            fd = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            os.dup2(fd, 1)
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, 2)
            os.execv(argv[0], argv)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    with open(out_path) as f:
        out = f.read().strip()
    if code != 0:
        return None, None, "exit status %d" % code
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, out


def print_table(header, rows, markdown):
    """Prints rows under header, as a Markdown table or in aligned columns."""
    if markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for r in rows:
            print("| " + " | ".join(r) + " |")
    else:
        widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
        for r in [header] + rows:
            print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)))


def run_json_set(zan, python, runs, quick, tmp, markdown):
    """Runs the jobs and prints the table; returns notes on differing outputs."""
    langs = []
    if zan:
        langs.append(("zan", lambda f: [zan, f], ZAN, "Zan []\n", ".zan"))
    langs.append(("python3", lambda f: [python, f], PY, "", ".py"))
    scripts = {}  # (lang, kind, size, script) -> path
    for name, argv_of, texts, header, ext in langs:
        for job, kind, mb, script, timed in JOBS:
            size = QUICK_MB[mb] if quick else mb
            doc = document_path(tmp, kind, size)
            path = os.path.join(tmp, "json-%s-%s-%s%s" % (kind, size, script.replace("+", "-"), ext))
            with open(path, "w") as f:
                f.write(header + texts[script] % doc)
            scripts[(name, kind, size, script)] = path
    best, peak, outs = {}, {}, {}  # key -> [load s, write s]; key -> MB; key -> (records, length)
    for _ in range(runs):
        for key in sorted(scripts, key=lambda k: (k[1], k[2], k[3], k[0])):
            argv_of = [l[1] for l in langs if l[0] == key[0]][0]
            t, mem, out = measure_with_output(argv_of(scripts[key]), tmp)
            fields = out.split()
            if t is None or len(fields) != 4:
                outs[key] = out
                continue
            times = [float(fields[0]), float(fields[1])]
            best[key] = [min(a, b) for a, b in zip(best.get(key, times), times)]
            peak[key] = min(peak.get(key, mem), mem)
            outs[key] = (fields[2], fields[3])

    names = [l[0] for l in langs]
    header = ["job"] + ["%s CPU" % n for n in names] + ["%s peak" % n for n in names]
    if "zan" in names:
        header += ["time zan/python3", "peak zan/python3"]
    rows, notes = [], []
    for job, kind, mb, script, timed in JOBS:
        size = QUICK_MB[mb] if quick else mb
        figs = {}
        for n in names:
            key = (n, kind, size, script)
            t = sum(best[key][["load", "write"].index(w)] for w in timed) if key in best else None
            figs[n] = (t, peak.get(key))
        row = [job.replace("%s MB" % mb, "%s MB" % size)]
        row += ["%.2f s" % figs[n][0] if figs[n][0] is not None else "-" for n in names]
        row += ["%.0f MB" % figs[n][1] if figs[n][1] is not None else "-" for n in names]
        if "zan" in names:
            z, p = figs["zan"], figs["python3"]
            row.append("%.2f" % (z[0] / p[0]) if z[0] is not None and p[0] else "-")
            row.append("%.2f" % (z[1] / p[1]) if z[1] is not None and p[1] else "-")
        rows.append(row)
        seen = {n: outs.get((n, kind, size, script)) for n in names}
        if len(set(v[0] if isinstance(v, tuple) else v for v in seen.values())) > 1:
            notes.append("%s: outputs differ: %r" % (job, seen))
    print_table(header, rows, markdown)
    return notes


if __name__ == "__main__":
    # compare_json.py KIND MB PATH: writes a generated document.
    data, _ = make_document(sys.argv[1], float(sys.argv[2]))
    with open(sys.argv[3] + ".tmp", "wb") as f:
        f.write(data)
    os.rename(sys.argv[3] + ".tmp", sys.argv[3])
