// Interoperation with an independent deflate implementation (zlib, used here
// only as a test oracle): our streams decode there, and its streams at every
// level and strategy decode here. A last check runs Python's gzip module
// when python3 is present.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "compress/compress_support.h"

namespace zan::test {
namespace {

// window_bits as zlib takes them: -15 raw, 15 zlib, 31 gzip.
Bytes oracle_inflate(const Bytes& stream, int window_bits, size_t expected_size) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, window_bits), Z_OK);
    Bytes out(expected_size + 1);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int rc = inflate(&z, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "oracle left input unread";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

struct OracleOptions {
    int level;
    int window_bits;
    int mem_level = 8;
    int strategy = Z_DEFAULT_STRATEGY;
    size_t flush_every = 0;  // a full flush (empty stored block) every n bytes
};

Bytes oracle_deflate(const Bytes& in, const OracleOptions& o) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, o.level, Z_DEFLATED, o.window_bits, o.mem_level, o.strategy), Z_OK);
    Bytes out(deflateBound(&z, uLong(in.size())) + 64 + (o.flush_every ? in.size() / o.flush_every * 8 : 0));
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    size_t step = o.flush_every ? o.flush_every : in.size() + 1;
    size_t pos = 0;
    do {
        size_t n = std::min(step, in.size() - pos);
        z.next_in = const_cast<Bytef*>(in.data() + pos);
        z.avail_in = uInt(n);
        pos += n;
        int rc = deflate(&z, pos == in.size() ? Z_FINISH : Z_FULL_FLUSH);
        EXPECT_NE(rc, Z_STREAM_ERROR);
    } while (pos < in.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

const std::vector<const CorpusItem*>& interop_items() {
    // The inputs up to a megabyte; the round trips cover the larger ones.
    static const std::vector<const CorpusItem*> items = [] {
        std::vector<const CorpusItem*> v;
        for (const CorpusItem& item : corpus())
            if (item.data.size() <= 0x100001) v.push_back(&item);
        return v;
    }();
    return items;
}

TEST(Interop, OurStreamsDecodeWithTheOracle) {
    struct Kind { CompressMethod method; int window_bits; };
    for (const Kind k : {Kind{CompressMethod::deflate, -15}, Kind{CompressMethod::zlib, 15},
                         Kind{CompressMethod::gzip, 31}}) {
        for (int level : {0, 6}) {
            for (const CorpusItem* item : interop_items()) {
                SCOPED_TRACE(std::string(test::method_name(k.method)) + " level " +
                             std::to_string(level) + " " + item->name);
                Bytes stream;
                compress_bytes(k.method, item->data, stream, level);
                EXPECT_TRUE(oracle_inflate(stream, k.window_bits, item->data.size()) == item->data);
            }
        }
    }
}

TEST(Interop, OracleStreamsAtEveryLevelDecode) {
    struct Kind { CompressMethod method; int window_bits; };
    for (const Kind k : {Kind{CompressMethod::deflate, -15}, Kind{CompressMethod::zlib, 15},
                         Kind{CompressMethod::gzip, 31}}) {
        for (int level = 0; level <= 9; ++level) {
            for (const CorpusItem* item : interop_items()) {
                SCOPED_TRACE(std::string(test::method_name(k.method)) + " level " +
                             std::to_string(level) + " " + item->name);
                Bytes stream = oracle_deflate(item->data, {level, k.window_bits});
                Bytes back;
                ASSERT_EQ(decompress_bytes(k.method, stream, back), CompressStatus::ok);
                EXPECT_TRUE(back == item->data);
            }
        }
    }
}

TEST(Interop, OracleStrategiesWindowsAndFlushes) {
    Bytes text = text_like(400000, 51);
    Bytes mixed = text;
    Bytes noise = random_bytes(100000, 52);
    mixed.insert(mixed.begin() + 150000, noise.begin(), noise.end());
    const OracleOptions options[] = {
        {6, -15, 8, Z_FILTERED},     {6, -15, 8, Z_HUFFMAN_ONLY}, {6, -15, 8, Z_RLE},
        {6, -15, 8, Z_FIXED},        {9, -9, 1},                   {1, -15, 9, Z_DEFAULT_STRATEGY, 10000},
        {0, -15, 8, Z_DEFAULT_STRATEGY, 70000},
    };
    for (const Bytes* in : {&text, &mixed}) {
        for (const OracleOptions& o : options) {
            SCOPED_TRACE(testing::Message() << "level " << o.level << " window " << o.window_bits
                                            << " strategy " << o.strategy << " flush " << o.flush_every);
            Bytes stream = oracle_deflate(*in, o);
            Bytes back;
            ASSERT_EQ(decompress_bytes(CompressMethod::deflate, stream, back), CompressStatus::ok);
            EXPECT_TRUE(back == *in);
        }
    }
}

// Runs python3 with a script and two file arguments; false when python3 is
// not available.
bool run_python(const std::string& script, const std::string& a, const std::string& b, int* status) {
    if (std::system("python3 -c 'import gzip' >/dev/null 2>&1") != 0) return false;
    std::string cmd = "python3 -c '" + script + "' " + a + " " + b;
    *status = std::system(cmd.c_str());
    return true;
}

std::string temp_path(const char* tag) {
    return (::testing::TempDir() + "zan_compress_" + tag + "_" + std::to_string(::getpid()));
}

void write_file(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

TEST(Interop, PythonGzipModuleBothWays) {
    Bytes text = text_like(200000, 53);
    Bytes ours;
    compress_bytes(CompressMethod::gzip, text, ours);
    std::string in = temp_path("ours.gz"), out = temp_path("plain"), theirs = temp_path("theirs.gz");
    write_file(in, ours);
    int status = 0;
    if (!run_python("import gzip,sys; open(sys.argv[2],\"wb\").write(gzip.open(sys.argv[1]).read())",
                    in, out, &status))
        GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(read_file(out) == text);
    // Python writes the file name into the header (FNAME).
    ASSERT_TRUE(run_python(
        "import gzip,sys; d=open(sys.argv[1],\"rb\").read(); "
        "f=gzip.GzipFile(filename=\"plain.txt\", mode=\"wb\", fileobj=open(sys.argv[2],\"wb\"), mtime=1); "
        "f.write(d); f.close()",
        out, theirs, &status));
    ASSERT_EQ(status, 0);
    Bytes back;
    ASSERT_EQ(decompress_bytes(CompressMethod::gzip, read_file(theirs), back), CompressStatus::ok);
    EXPECT_TRUE(back == text);
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(theirs.c_str());
}

}  // namespace
}  // namespace zan::test
