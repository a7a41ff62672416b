// Writes the seed corpus of the fuzz targets into corpus/<target>/ under the
// folder given: Zan texts, ZANBIN images in both layouts and compressed, LZ
// streams, and deflate streams in raw, zlib and gzip framing. Run by hand
// (tests/fuzz/run.sh --seeds) when the formats change.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "runtime/io/compress/compress.h"
#include "runtime/io/zanbin/zanbin.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char* const kTexts[] = {
    "[1 2.5 -3 1e10 $1.50 10% 1x2 1.2.3 3:04 1-Jan-2020 #\"a\" \"str\" {multi\nline}]",
    "a b/c :d e: 'f /g #h <tag> %file.txt http://x.y/z user@host #{DEADBEEF} 64#{AAEC}",
    "Zan [Title: \"t\"] print [1 + 2] x: func [a /b c] [a] make object! [a: 1 b: [2]]",
    "[[[]]] (1 (2)) #[none] #[true] #(map: 1) a/1/:b ^\"esc^/\" 'lit/path :get/path",
    "#include 1.#INF -0.0 0.1 123456789012 #\"^(1F600)\" \"ünïcödé\" ~weird ;comment\n",
};

const char* const kValues[] = {
    "[1 \"a\" x/y #{00} 1.5 [z] (p) 'q :r s: /t]",
    "(make object! [a: 1 b: \"two\" f: func [x] [x + a]])",
    "(make map! [k 1 \"s\" [2 3]])",
    "(b: [1 2] reduce [b b next b])",
    "(make error! [type: 'math id: 'zero-divide])",
    "[1.5 10% $2 3x4 1.2.3 4:05 1-Jan-2021/10:00 #\"c\" <t> %f u@h http://h/]",
};

void write(const fs::path& dir, const std::string& name, const Bytes& b) {
    fs::create_directories(dir);
    std::ofstream f(dir / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The bytes of the binary! that the source evaluates to (molded #{...}).
Bytes eval_binary(const std::string& source) {
    zan::fuzz::boot_once();
    std::string m = zan::boot_eval(source);
    size_t open = m.find("#{");
    if (open == std::string::npos) {
        std::fprintf(stderr, "not a binary: %s -> %s\n", source.c_str(), m.c_str());
        std::exit(1);
    }
    Bytes b;
    for (size_t i = open + 2; i + 1 < m.size() && m[i] != '}'; i += 2) {
        if (m[i] == '\n' || m[i] == ' ') {
            i--;
            continue;
        }
        b.push_back(static_cast<uint8_t>(std::stoi(m.substr(i, 2), nullptr, 16)));
    }
    return b;
}

// A ZANBIN image with everything after the first 8 bytes LZ-compressed.
Bytes compressed_image(const Bytes& image) {
    Bytes packed;
    zan::compress_bytes(zan::CompressMethod::lz, std::span<const uint8_t>(image).subspan(8), packed);
    Bytes out = image;
    out.resize(8);
    out[7] |= zan::ZANBIN_FLAG_COMPRESSED;
    for (uint8_t b : packed) out.push_back(b);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root = argc > 1 ? argv[1] : "corpus";
    int n = 0;
    for (const char* t : kTexts) {
        write(root / "transcode", "text-" + std::to_string(n), bytes_of(t));
        write(root / "mold_load", "text-" + std::to_string(n), bytes_of(t));
        n++;
    }
    n = 0;
    for (const char* v : kValues) {
        std::string id = std::to_string(n++);
        for (const char* layout : {"true", "false"}) {
            Bytes image = eval_binary(std::string("system/codecs/zanbin/compact?: ") + layout +
                                      " save/as none " + v + " 'zanbin");
            std::string name = std::string(layout[0] == 't' ? "compact-" : "fixed-") + id;
            write(root / "zanbin", name, image);
            write(root / "zanbin", name + "-lz", compressed_image(image));
        }
        write(root / "mold_load", "value-" + id, bytes_of(v));
    }
    eval_binary("system/codecs/zanbin/compact?: true #{}");
    // Compressed streams of texts of several sizes and kinds.
    std::vector<Bytes> plain = {bytes_of(""), bytes_of("a"), bytes_of(kTexts[0]), bytes_of(kTexts[2])};
    Bytes runs;
    for (int i = 0; i < 3000; i++) runs.push_back(static_cast<uint8_t>("abcab"[i % 5] + (i / 700)));
    plain.push_back(runs);
    struct Method {
        zan::CompressMethod m;
        const char* name;
    };
    n = 0;
    for (const Bytes& p : plain) {
        std::string id = std::to_string(n++);
        Bytes out;
        for (Method m : {Method{zan::CompressMethod::deflate, "deflate"},
                         Method{zan::CompressMethod::zlib, "zlib"},
                         Method{zan::CompressMethod::gzip, "gzip"}}) {
            for (int level : {0, 6}) {
                zan::compress_bytes(m.m, p, out, level);
                write(root / "inflate", std::string(m.name) + "-" + std::to_string(level) + "-" + id, out);
            }
        }
        zan::compress_bytes(zan::CompressMethod::lz, p, out);
        write(root / "lz", "lz-" + id, out);
    }
    // parse: a split byte, rule token bytes, input bytes.
    const Bytes parse_seeds[] = {
        {0x03, 4, 12, 9, 0, 0, 1, 0},
        {0x05, 0, 5, 19, 1, 9, 1, 0, 1, 6, 5},
        {0x06, 20, 0, 10, 14, 1, 3, 0, 1, 2, 1, 0},
        {0x84, 22, 0, 4, 3, 1, 3, 0, 4, 1, 2},
        {0x07, 23, 0, 4, 0, 24, 3, 1, 1, 0, 1, 0, 1},
        {0x04, 30, 2, 12, 9, 0, 0},
    };
    n = 0;
    for (const Bytes& b : parse_seeds) write(root / "parse", "rule-" + std::to_string(n++), b);
    std::printf("seeds written under %s\n", root.c_str());
    return 0;
}
