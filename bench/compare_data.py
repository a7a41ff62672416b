"""The memory and bulk-data set of bench/compare (`bench/compare --data`).

Each job is written in zan and in python3 with the same algorithm (the
python3 side uses its standard library: reading a file, hashlib,
subprocess, sorted, zlib), run as a process of its own, the languages
interleaved run by run. For each it reports the processor time (user and
system) of the best run, the peak resident memory and the page faults of
the process (from wait4), less what a baseline script in the same language
takes (start-up, and for some jobs the preparation the job starts from, as
said in its description).

  trees     binary trees of depth 16: nested blocks (lists) built and
            walked, with a long-lived tree held throughout
  read      read of a text file (UTF-8 with accents, CJK and emoji)
  sha256    read/binary of a large file, then its SHA-256
  call      the output of a child (cat of a text file) captured into a string
  sort      sorting strings read from a file (the reading is the baseline)
  gunzip    gzip decompression of a file read as binary (the reading is the
            baseline)

The data files are generated once into --data-dir (default a folder in the
system's temporary folder, kept between runs): a text of about 23.6 MB, a
text of 100 MB, 300 000 words one per line, 500 MB of pseudo-random bytes,
and the gzip file of the 100 MB text.
"""
import gzip
import os
import random
import subprocess
import sys
import tempfile

from compare_json import print_table

TEXT_MB = 23.6
CALL_MB = 100
BINARY_MB = 500
WORDS = 300000
TREE_DEPTH = 16

# Scaled down by --quick.
QUICK_FACTOR = 50


def _text_sample(rng, size):
    """size bytes (or a few less) of UTF-8: words of ASCII letters, with
    accented Latin letters, CJK and emoji among them, in lines."""
    ascii_words = ["the", "of", "memory", "frame", "value", "series", "block",
                   "string", "collector", "page", "buffer", "text", "word", "node"]
    others = ["café", "naïve", "Zürich", "façade", "日本語", "漢字", "中文",
              "😀", "🚀", "🎉", "emoji😀x", "ʻokina", "Ελληνικά", "кириллица"]
    out = []
    n = 0
    line = 0
    while n < size:
        parts = []
        for _ in range(12):
            w = rng.choice(others) if rng.random() < 0.12 else rng.choice(ascii_words)
            parts.append(w)
        s = (" ".join(parts) + "\n").encode("utf-8")
        out.append(s)
        n += len(s)
        line += 1
    data = b"".join(out)
    # Cut at a line end so that the text stays valid UTF-8.
    cut = data.rfind(b"\n", 0, size)
    return data[:cut + 1] if cut > 0 else data


def _words(rng, count):
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    lines = []
    for _ in range(count):
        k = rng.randint(3, 14)
        lines.append("".join(rng.choice(letters) for _ in range(k)))
    return ("\n".join(lines) + "\n").encode("ascii")


def prepare_data(folder, quick):
    """Writes the data files when missing; returns their paths."""
    os.makedirs(folder, exist_ok=True)
    f = QUICK_FACTOR if quick else 1
    suffix = "-quick" if quick else ""
    paths = {
        "text": os.path.join(folder, "text%s.txt" % suffix),
        "call": os.path.join(folder, "call%s.txt" % suffix),
        "words": os.path.join(folder, "words%s.txt" % suffix),
        "binary": os.path.join(folder, "binary%s.bin" % suffix),
        "gz": os.path.join(folder, "call%s.txt.gz" % suffix),
    }
    rng = random.Random(35)
    if not os.path.exists(paths["text"]):
        data = _text_sample(rng, int(TEXT_MB * 1e6 / f))
        with open(paths["text"], "wb") as out:
            out.write(data)
    if not os.path.exists(paths["call"]):
        # The smaller text repeated: generating 100 MB afresh takes long.
        sample = _text_sample(rng, int(10e6 / f))
        want = int(CALL_MB * 1e6 / f)
        with open(paths["call"], "wb") as out:
            n = 0
            while n + len(sample) <= want:
                out.write(sample)
                n += len(sample)
    if not os.path.exists(paths["words"]):
        with open(paths["words"], "wb") as out:
            out.write(_words(rng, WORDS // (f if quick else 1)))
    if not os.path.exists(paths["binary"]):
        want = int(BINARY_MB * 1e6 / f)
        r = random.Random(36)
        with open(paths["binary"], "wb") as out:
            step = 1 << 24
            left = want
            while left > 0:
                k = min(step, left)
                out.write(r.randbytes(k))
                left -= k
    if not os.path.exists(paths["gz"]):
        with open(paths["call"], "rb") as src:
            data = src.read()
        with open(paths["gz"], "wb") as out:
            out.write(gzip.compress(data, compresslevel=6, mtime=0))
    return paths


def _zan_str(path):
    return "%" + path.replace(" ", "%20")


def jobs(paths, quick):
    """name -> (description, {lang: (script, baseline script)})."""
    depth = 10 if quick else TREE_DEPTH
    p = {k: _zan_str(v) for k, v in paths.items()}
    q = {k: repr(v) for k, v in paths.items()}
    mb = lambda k: os.path.getsize(paths[k]) / 1e6
    j = {}
    j["trees"] = ("binary trees, depth %d" % depth, {
        "zan": ("""
make-tree: func [d] [either d > 0 [reduce [make-tree d - 1 make-tree d - 1]] [reduce [none none]]]
check-tree: func [t] [either none? first t [1] [1 + (check-tree first t) + check-tree second t]]
max-depth: %(depth)d
min-depth: 4
stretch: max-depth + 1
print ["stretch" stretch check-tree make-tree stretch]
long-lived: make-tree max-depth
d: min-depth
while [d <= max-depth] [
    iterations: to integer! 2 ** (max-depth - d + min-depth)
    total: 0
    repeat i iterations [total: total + check-tree make-tree d]
    print [iterations d total]
    d: d + 2
]
print ["long-lived" max-depth check-tree long-lived]
""" % {"depth": depth}, ""),
        "python3": ("""
def make_tree(d):
    return [make_tree(d - 1), make_tree(d - 1)] if d > 0 else [None, None]
def check_tree(t):
    return 1 if t[0] is None else 1 + check_tree(t[0]) + check_tree(t[1])
max_depth = %(depth)d
min_depth = 4
stretch = max_depth + 1
print("stretch", stretch, check_tree(make_tree(stretch)))
long_lived = make_tree(max_depth)
d = min_depth
while d <= max_depth:
    iterations = 2 ** (max_depth - d + min_depth)
    total = 0
    for i in range(iterations):
        total += check_tree(make_tree(d))
    print(iterations, d, total)
    d += 2
print("long-lived", max_depth, check_tree(long_lived))
""" % {"depth": depth}, "")})
    j["read"] = ("read %.1f MB of UTF-8 text" % mb("text"), {
        "zan": ("t: read %s\nprint length? t\n" % p["text"], ""),
        "python3": ("t = open(%s, encoding='utf-8').read()\nprint(len(t))\n" % q["text"], ""),
    })
    j["sha256"] = ("read/binary %.0f MB, then SHA-256" % mb("binary"), {
        "zan": ("b: read/binary %s\nprint enbase/base checksum b 'sha256 16\n" % p["binary"], ""),
        "python3": ("import hashlib\nb = open(%s, 'rb').read()\n"
                    "print(hashlib.sha256(b).hexdigest().upper())\n" % q["binary"], ""),
    })
    j["call"] = ("%.0f MB captured from a child (cat)" % mb("call"), {
        "zan": ("out: copy \"\"\ncall/wait/output \"cat %s\" out\nprint length? out\n"
                % paths["call"], ""),
        "python3": ("import subprocess\n"
                    "out = subprocess.run(['cat', %s], stdout=subprocess.PIPE).stdout"
                    ".decode('utf-8', 'replace')\nprint(len(out))\n" % q["call"], ""),
    })
    nwords = sum(1 for _ in open(paths["words"], "rb"))
    j["sort"] = ("sort %d strings (read/lines the baseline)" % nwords, {
        "zan": ("b: read/lines %s\nsort b\nprint [length? b]\n" % p["words"],
                "b: read/lines %s\nprint [length? b]\n" % p["words"]),
        "python3": ("b = open(%s).read().splitlines()\nb.sort()\nprint(len(b))\n" % q["words"],
                    "b = open(%s).read().splitlines()\nprint(len(b))\n" % q["words"]),
    })
    j["gunzip"] = ("gzip decompression to %.0f MB (read/binary the baseline)" % mb("call"), {
        "zan": ("z: read/binary %s\nd: decompress z 'gzip\nprint length? d\n" % p["gz"],
                "z: read/binary %s\nprint length? z\n" % p["gz"]),
        "python3": ("import zlib\nz = open(%s, 'rb').read()\nd = zlib.decompress(z, 31)\n"
                    "print(len(d))\n" % q["gz"],
                    "z = open(%s, 'rb').read()\nprint(len(z))\n" % q["gz"]),
    })
    return j


# A launcher that starts the command and reports its resource use: the peak
# resident memory that wait4 reports for a child starts from the memory of
# the process that made it, so the child is made by this small program
# rather than by python3.
LAUNCHER_C = r"""
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
int main(int argc, char** argv) {
    pid_t pid = fork();
    if (pid < 0) return 125;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) < 0) return 125;
    FILE* out = fopen(argv[1], "w");
    if (!out) return 125;
    fprintf(out, "%ld.%06ld %ld.%06ld %ld %ld %ld\n", (long)ru.ru_utime.tv_sec,
            (long)ru.ru_utime.tv_usec, (long)ru.ru_stime.tv_sec, (long)ru.ru_stime.tv_usec,
            ru.ru_maxrss, ru.ru_minflt, ru.ru_majflt);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
"""


def build_launcher(folder):
    src = os.path.join(folder, "launch.c")
    exe = os.path.join(folder, "launch")
    with open(src, "w") as f:
        f.write(LAUNCHER_C)
    for cc in ("cc", "gcc", "clang"):
        try:
            if subprocess.run([cc, "-O1", "-o", exe, src], capture_output=True).returncode == 0:
                return exe
        except OSError:
            pass
    return None


def run_measured(launcher, argv, timeout=900):
    """(cpu seconds, peak RSS in KB, minor+major page faults, rc, stdout)."""
    with tempfile.TemporaryDirectory() as tmp:
        report = os.path.join(tmp, "usage")
        p = subprocess.run([launcher, report] + argv, capture_output=True, timeout=timeout)
        text = p.stdout.decode("utf-8", "replace").strip()
        if p.returncode != 0:
            text = p.stderr.decode("utf-8", "replace").strip() or text
        try:
            with open(report) as f:
                u, s, rss, minflt, majflt = f.read().split()
        except (OSError, ValueError):
            return 0.0, 0, 0, p.returncode or 125, text or "no report"
        return float(u) + float(s), int(rss), int(minflt) + int(majflt), p.returncode, text


def run(langs, runs, quick, data_dir, markdown, only=None):
    """langs: [(name, ext, argv_of, header)]. Prints the table."""
    paths = prepare_data(data_dir, quick)
    table = jobs(paths, quick)
    names = [l[0] for l in langs]
    selected = [k for k in table if not only or k in only]
    with tempfile.TemporaryDirectory(prefix="zan-data-") as tmp:
        launcher = build_launcher(tmp)
        if not launcher:
            print("no C compiler for the launcher (cc, gcc or clang)", file=sys.stderr)
            return 1
        scripts = {}
        for name, ext, argv_of, header in langs:
            empty = os.path.join(tmp, "empty" + ext)
            with open(empty, "w") as f:
                f.write(header)
            for job in selected:
                body, base = table[job][1][name]
                main = os.path.join(tmp, job + ext)
                with open(main, "w") as f:
                    f.write(header + body)
                if base:
                    basep = os.path.join(tmp, job + "-base" + ext)
                    with open(basep, "w") as f:
                        f.write(header + base)
                else:
                    basep = empty
                scripts[(name, job)] = (argv_of(main), argv_of(basep))
        # results[(lang, job, which)] -> list of (cpu, rss, faults)
        results = {}
        outputs = {}
        failures = {}
        for _ in range(runs):
            for job in selected:
                for name in names:
                    if (name, job) in failures:
                        continue
                    for which, argv in zip(("main", "base"), scripts[(name, job)]):
                        cpu, rss, faults, rc, text = run_measured(launcher, argv)
                        if rc != 0:
                            failures[(name, job)] = text.splitlines()[0] if text else "rc %d" % rc
                            break
                        results.setdefault((name, job, which), []).append((cpu, rss, faults))
                        if which == "main":
                            outputs[(name, job)] = text

    def best(name, job):
        m = results.get((name, job, "main"))
        b = results.get((name, job, "base"))
        if not m or not b:
            return None
        cpu = min(r[0] for r in m) - min(r[0] for r in b)
        rss = max(r[1] for r in m)
        faults = sorted(r[2] for r in m)[len(m) // 2]
        return max(cpu, 0.0), rss, faults

    header = ["job"]
    for n in names:
        header += ["%s time" % n, "%s peak" % n, "%s faults" % n]
    if "zan" in names:
        header += ["zan/%s time" % n for n in names if n != "zan"]
        header += ["zan/%s peak" % n for n in names if n != "zan"]
    rows = []
    for job in selected:
        row = [table[job][0]]
        got = {n: best(n, job) for n in names}
        for n in names:
            g = got[n]
            if g is None:
                row += [failures.get((n, job), "-"), "-", "-"]
            else:
                row += ["%.2f s" % g[0], "%.0f MB" % (g[1] / 1024), "{:,}".format(g[2])]
        if "zan" in names:
            z = got["zan"]
            for i in (0, 1):
                for n in names:
                    if n == "zan":
                        continue
                    o = got[n]
                    row.append("%.2f" % (z[i] / o[i]) if z and o and o[i] else "-")
        rows.append(row)
    print_table(header, rows, markdown)
    for job in selected:
        seen = {n: outputs.get((n, job)) for n in names if (n, job) in outputs}
        if len(set(" ".join(v.split()).lower() for v in seen.values())) > 1:
            print("note: %s: outputs differ: %r" % (job, seen), file=sys.stderr)
    return 0
