// Writes the seed corpus of the fuzz targets into corpus/<target>/ under the
// folder given: Zan texts, ZANBIN images in both layouts and compressed, LZ
// streams, deflate streams in raw, zlib and gzip framing, small images in
// each format (and headers that claim more than their data), JSON, CSV and
// URL texts, and the byte strings of the targets that pick tokens. Run by
// hand (tests/fuzz/run.sh --seeds) when the formats change.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "tests/support/boot_eval.h"
#include "runtime/io/compress/compress.h"
#include "runtime/image/codecs.h"
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

// Small images in every format: a 5x3 picture with every kind of alpha,
// an opaque 9x7 gradient, one pixel; and for the format's decoder, files
// whose headers claim more than their data holds.
void image_seeds(const fs::path& root) {
    std::vector<std::pair<std::vector<uint32_t>, std::pair<uint32_t, uint32_t>>> pictures;
    std::vector<uint32_t> alpha, gradient;
    for (uint32_t i = 0; i < 15; i++)
        alpha.push_back(((i % 3 == 0 ? 255u : i % 3 == 1 ? 0u : 128u) << 24) | (i * 17 << 16) | (i * 5));
    for (uint32_t y = 0; y < 7; y++)
        for (uint32_t x = 0; x < 9; x++) gradient.push_back(0xFF000000u | (x * 28 << 16) | (y * 36 << 8) | 99);
    pictures.push_back({alpha, {5, 3}});
    pictures.push_back({gradient, {9, 7}});
    pictures.push_back({{0xFF102030u}, {1, 1}});
    const char* names[] = {"bmp", "png", "gif", "jpeg", "tiff"};
    for (int32_t format = zan::IMG_BMP; format <= zan::IMG_TIFF; format++) {
        fs::path dir = root / (std::string("image_") + names[format]);
        int n = 0;
        for (const auto& [words, size] : pictures) {
            Bytes file;
            if (zan::image_encode(words.data(), size.first, size.second, format, file))
                write(dir, "picture-" + std::to_string(n++), file);
        }
    }
    auto le16 = [](Bytes& b, size_t at, uint32_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); };
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0, 0x40, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF,
                 0xFF, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
    write(root / "image_gif", "claim-screen", gif);
    le16(gif, 6, 40), le16(gif, 8, 30);
    write(root / "image_gif", "small-screen", gif);
    // Run-length BMPs: runs, an end of line, a move, an end of bitmap.
    for (uint32_t w : {8u, 65535u}) {
        Bytes b(14 + 40 + 8, 0);
        Bytes runs = {3, 1, 0, 0, 2, 0, 0, 2, 2, 1, 1, 1, 0, 1};
        b[0] = 'B', b[1] = 'M', b[10] = 62, b[14] = 40, b[26] = 1, b[28] = 8, b[30] = 1, b[46] = 2;
        le16(b, 18, w), le16(b, 22, w == 8 ? 8 : 16384);
        b[56] = 255, b[58] = 255, b[59] = 255, b[60] = 255;
        b.insert(b.end(), runs.begin(), runs.end());
        write(root / "image_bmp", "rle-" + std::to_string(w), b);
    }
    // A PNG whose text chunk claims 0x70000000 bytes.
    Bytes png = eval_binary("copy/part save/as none make image! 1x1 'png 33");
    Bytes text = {0x70, 0, 0, 0, 'i', 'T', 'X', 't'};
    png.insert(png.end(), text.begin(), text.end());
    write(root / "image_png", "claim-text", png);
}

// Texts of the codecs and of URLs.
void text_seeds(const fs::path& root) {
    const char* json[] = {
        "{\"a\": [1, 2.5, -3e10, true, false, null, \"s\\u00e9\\n\"], \"b\": {}, \"c\": \"\"}",
        "[]", "\"x\"", "[[[[[[[[[[]]]]]]]]]]", "{\"a\":}", "1e999", "{\"\\ud800\": 0}", " [1,\n2 , 3] ",
    };
    // csv: the flag byte of the refinements, then the text.
    const std::pair<uint8_t, const char*> csv[] = {
        {0x00, "a,b,c\n1,2,3\n"},
        {0x02, "name,age\n\"Smith, J\",42\n\"x\"\"y\",\"line\nbreak\"\n"},
        {0x01, "a;b\r\n1;2\r\n"},
        {0x24, " a , \"b\" \n"},
        {0x08, "k,v\nx,1\ny,2\n"},
        {0x40, "'a,b',c\n"},
    };
    const char* urls[] = {
        "http://user:pw@host:8080/p/a%20th?q=1&r=%41#frag", "ftp://h/", "mailto:x@y",
        "http://[::1]:80/", "%", "http://h/%a9?%", "https://ex.ample/a/../b/./c;p?q#f#g",
        "file:///tmp/x%2Fy",
    };
    int n = 0;
    for (const char* t : json) write(root / "json", "text-" + std::to_string(n++), bytes_of(t));
    n = 0;
    for (const auto& [flags, text] : csv) {
        Bytes b = bytes_of(text);
        b.insert(b.begin(), flags);
        write(root / "csv", "text-" + std::to_string(n++), b);
    }
    n = 0;
    for (const char* t : urls) write(root / "url", "text-" + std::to_string(n++), bytes_of(t));
}

// The targets that pick tokens by byte: every token in order and in reverse,
// and a few mixed strings; the deep target's rings.
void token_seeds(const fs::path& root) {
    for (const char* target : {"preprocessor", "gui"}) {
        // (gui: the lead byte picks layout, draw or rich text.)
        for (uint8_t lead : target[0] == 'g' ? std::vector<uint8_t>{0, 2, 5} : std::vector<uint8_t>{0}) {
            Bytes up, down, mixed;
            if (target[0] == 'g') up.push_back(lead), down.push_back(lead), mixed.push_back(lead);
            // (The GUI target reads 63 tokens at most, the preprocessor's 64.)
            const int n = target[0] == 'g' ? 63 : 64;
            for (int i = 0; i < n; i++) {
                up.push_back(uint8_t(i));
                down.push_back(uint8_t(n - 1 - i));
                mixed.push_back(uint8_t((i * 37 + 11) % 100));
            }
            std::string id = std::to_string(lead);
            write(root / target, "up-" + id, up);
            write(root / target, "down-" + id, down);
            write(root / target, "mixed-" + id, mixed);
        }
    }
    // deep: frames left, cells left, ring size, one shape a function.
    int n = 0;
    for (uint8_t call = 0; call < 11; call++) {
        uint8_t wrapper = uint8_t(call % 8);
        write(root / "deep", "ring-" + std::to_string(n++),
              Bytes{uint8_t(call * 23), uint8_t(call * 17), 0, uint8_t(call << 3 | wrapper)});
    }
    write(root / "deep", "ring-" + std::to_string(n++), Bytes{0, 0, 3, 3 | 8, 1 | 16, 7 | 72, 0});
    write(root / "deep", "ring-" + std::to_string(n++), Bytes{255, 255, 1, 3 | 40, 5 | 24});
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
    image_seeds(root);
    text_seeds(root);
    token_seeds(root);
    std::printf("seeds written under %s\n", root.c_str());
    return 0;
}
