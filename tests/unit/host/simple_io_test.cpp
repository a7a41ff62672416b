// Files and directories: reads (text, binary, lines, part, seek), sources
// of unknown size (FIFOs, devices, /proc), writes (truncate, append, seek,
// part, lines, formed values), directory listings, delete, query, rename,
// and the access errors of the dispatchers.
#include <fcntl.h>
#include <sys/stat.h>

#include <csignal>
#include <thread>

#include "host/host_test_support.h"

namespace zan::test {
namespace {

class SimpleIoTest : public HostTest {
protected:
    // read through the dispatcher; part and seek as integers (-1: absent).
    ValueCell* rd(const std::string& path, bool binary = false, bool lines = false, i32 part = -1,
                  i32 seek = -1) {
        ValueCell* f = file(path);
        ValueCell p = integer(part), s = integer(seek);
        ValueCell* pc = part >= 0 ? stack_push(&p) : nullptr;
        ValueCell* sc = seek >= 0 ? stack_push(&s) : nullptr;
        return io_read(f, pc, sc, binary, lines);
    }
    std::string read_text(const std::string& path, i32 part = -1, i32 seek = -1) {
        ValueCell* r = rd(path, false, false, part, seek);
        EXPECT_EQ(r->type(), TYPE_STRING);
        return text(r);
    }
    void wr(const std::string& path, ValueCell data, bool append = false, bool lines = false,
            const ValueCell* part = nullptr, const ValueCell* seek = nullptr) {
        ValueCell* f = file(path);
        ValueCell* d = stack_push(&data);
        ValueCell* pc = part ? stack_push(part) : nullptr;
        ValueCell* sc = seek ? stack_push(seek) : nullptr;
        ValueCell* r = io_write(f, d, pc, sc, false, append, lines);
        EXPECT_EQ(r->type(), TYPE_UNSET);
    }
};

TEST_F(SimpleIoTest, WriteThenReadTextBinaryAndLines) {
    std::string p = at("a.txt");
    wr(p, *str("h\xC3\xA9llo\n\xE2\x82\xAC"));
    EXPECT_EQ(get_bytes(p), "h\xC3\xA9llo\n\xE2\x82\xAC");
    EXPECT_EQ(read_text(p), "h\xC3\xA9llo\n\xE2\x82\xAC");
    ValueCell* b = rd(p, true);
    ASSERT_EQ(b->type(), TYPE_BINARY);
    EXPECT_EQ(bytes_of(b), "h\xC3\xA9llo\n\xE2\x82\xAC");
    // The text holds 7 characters: é and € are one each.
    EXPECT_EQ(string_length(rd(p)), 7);
    EXPECT_EQ(mold(*rd(p, false, true)), "[\"h\xC3\xA9llo\" \"\xE2\x82\xAC\"]");
    // /binary wins over /lines.
    EXPECT_EQ(rd(p, true, true)->type(), TYPE_BINARY);
}

TEST_F(SimpleIoTest, LinesSplitAtLineFeeds) {
    struct Case {
        const char* bytes;
        const char* lines;
    } cases[] = {
        {"a\r\nb", "[\"a\" \"b\"]"},
        {"a\n\nb\n", "[\"a\" \"\" \"b\"]"},
        {"a\rb\n", "[\"a^Mb\"]"},  // a CR that is not before a LF stays
        {"\n", "[\"\"]"},
        {"last", "[\"last\"]"},
        {"", "[]"},
    };
    for (const Case& c : cases) {
        std::string p = at("lines.txt");
        put_bytes(p, c.bytes);
        EXPECT_EQ(mold(*rd(p, false, true)), c.lines) << "content: " << c.bytes;
    }
}

TEST_F(SimpleIoTest, PartAndSeek) {
    std::string p = at("digits.txt");
    put_bytes(p, "0123456789");
    EXPECT_EQ(read_text(p, 4), "0123");
    EXPECT_EQ(read_text(p, 0), "");
    EXPECT_EQ(read_text(p, 100), "0123456789");
    EXPECT_EQ(read_text(p, -1, 6), "6789");
    EXPECT_EQ(read_text(p, 2, 6), "67");
    EXPECT_EQ(read_text(p, 5, 8), "89");
    // Seeking past the end gives an empty value.
    EXPECT_EQ(read_text(p, -1, 10), "");
    EXPECT_EQ(read_text(p, -1, 50), "");
    EXPECT_EQ(bytes_of(rd(p, true, false, 0)), "");
    EXPECT_EQ(mold(*rd(p, false, true, 0)), "[]");
    // A negative /part sets no limit.
    ValueCell* f = file(p);
    ValueCell neg = integer(-3);
    EXPECT_EQ(text(io_read(f, stack_push(&neg), nullptr, false, false)), "0123456789");
}

TEST_F(SimpleIoTest, EmptyFileGivesEmptyValues) {
    std::string p = at("empty");
    put_bytes(p, "");
    EXPECT_EQ(read_text(p), "");
    EXPECT_EQ(bytes_of(rd(p, true)), "");
}

// A FIFO reports no size: its content is whatever the reads bring, and all
// of it arrives although it cannot be rewound.
TEST_F(SimpleIoTest, FifoIsReadToTheEnd) {
    std::string p = at("fifo");
    ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
    std::string payload;
    for (int i = 0; i < 30000; i++) payload += "line " + std::to_string(i) + "\n";
    ASSERT_GT(payload.size(), 3u * IO_CHUNK_SIZE);
    auto feed = [&](const std::string& bytes) {
        return std::thread([p, bytes] {
            int fd = open(p.c_str(), O_WRONLY);
            if (fd < 0) return;
            size_t done = 0;
            while (done < bytes.size()) {
                ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            close(fd);
        });
    };
    // A reader that stops early leaves the writer with a broken pipe.
    auto old_pipe = signal(SIGPIPE, SIG_IGN);
    std::thread writer = feed(payload);
    ValueCell* r = rd(p, true);
    writer.join();
    EXPECT_EQ(bytes_of(r), payload);

    // Text, seek and part on such a source.
    writer = feed(payload);
    EXPECT_EQ(read_text(p, 12, 7), "line 1\nline ");
    writer.join();

    writer = feed("a\r\nb\n");
    EXPECT_EQ(mold(*rd(p, false, true)), "[\"a\" \"b\"]");
    writer.join();

    writer = feed("");
    EXPECT_EQ(read_text(p), "");
    writer.join();
    signal(SIGPIPE, old_pipe);
}

TEST_F(SimpleIoTest, SourcesWithoutSize) {
    // /proc files report a size of 0 and still have content.
    std::string status = read_text("/proc/self/status");
    EXPECT_NE(status.find("Name:"), std::string::npos);
    // An endless device: /part stops the reading.
    EXPECT_EQ(bytes_of(rd("/dev/zero", true, false, 10)), std::string(10, '\0'));
    EXPECT_EQ(bytes_of(rd("/dev/zero", true, false, 3, 70000)), std::string(3, '\0'));
    EXPECT_EQ(bytes_of(rd("/dev/null", true)), "");
}

TEST_F(SimpleIoTest, WriteTruncatesAppendKeeps) {
    std::string p = at("w.txt");
    wr(p, *str("first line"));
    wr(p, *str("second"));
    EXPECT_EQ(get_bytes(p), "second");
    wr(p, *str("+more"), true);
    EXPECT_EQ(get_bytes(p), "second+more");
    // Append creates a missing file.
    wr(at("new.txt"), *str("x"), true);
    EXPECT_EQ(get_bytes(at("new.txt")), "x");
}

TEST_F(SimpleIoTest, WriteSeekOverwritesInPlace) {
    std::string p = at("s.txt");
    put_bytes(p, "0123456789");
    ValueCell seek = integer(3);
    wr(p, *str("abc"), false, false, nullptr, &seek);
    EXPECT_EQ(get_bytes(p), "012abc6789");
    ValueCell zero = integer(0);
    wr(p, *str("Z"), false, false, nullptr, &zero);
    EXPECT_EQ(get_bytes(p), "Z12abc6789");
    // Append goes to the end whatever the seek.
    wr(p, *str("!"), true, false, nullptr, &seek);
    EXPECT_EQ(get_bytes(p), "Z12abc6789!");
}

TEST_F(SimpleIoTest, WritePartLimitsCharactersOrBytes) {
    std::string p = at("p.txt");
    ValueCell two = integer(2);
    wr(p, *str("h\xC3\xA9llo"), false, false, &two);
    EXPECT_EQ(get_bytes(p), "h\xC3\xA9");
    ValueCell* bin = binary_load(ByteSource("\x01\x02\x03\x04"), 4);
    wr(p, *bin, false, false, &two);
    EXPECT_EQ(get_bytes(p), "\x01\x02");
    ValueCell big = integer(99);
    wr(p, *str("abc"), false, false, &big);
    EXPECT_EQ(get_bytes(p), "abc");
    // A negative /part writes nothing: the file keeps its content.
    ValueCell neg = integer(-1);
    wr(p, *str("zzz"), false, false, &neg);
    EXPECT_EQ(get_bytes(p), "abc");
}

TEST_F(SimpleIoTest, WriteFormsOtherValuesAndLines) {
    std::string p = at("v.txt");
    wr(p, integer(42));
    EXPECT_EQ(get_bytes(p), "42");
    ValueCell* b = blk({*str("one"), integer(2), word("three")});
    wr(p, *b);
    EXPECT_EQ(get_bytes(p), "one 2 three");
    wr(p, *b, false, true);
    EXPECT_EQ(get_bytes(p), "one\n2\nthree\n");
    wr(p, *blk({*str("x")}), true, true);
    EXPECT_EQ(get_bytes(p), "one\n2\nthree\nx\n");
    // Lines only split a block.
    wr(p, *str("plain"), false, true);
    EXPECT_EQ(get_bytes(p), "plain");
    // Binary data inside a block goes out as its bytes.
    wr(p, *blk({*binary_load(ByteSource("AB"), 2)}), false, true);
    EXPECT_EQ(get_bytes(p), "AB\n");
}

TEST_F(SimpleIoTest, RefinementArgumentsMustBeIntegers) {
    std::string p = at("r.txt");
    put_bytes(p, "abc");
    ValueCell* f = file(p);
    ValueCell* bad = str("2");
    EXPECT_EQ(error_of([&] { io_read(f, bad, nullptr, false, false); }),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { io_read(f, nullptr, bad, false, false); }),
              Err::script_invalid_refine_arg);
    ValueCell* d = str("x");
    EXPECT_EQ(error_of([&] { io_write(f, d, bad, nullptr, false, false, false); }),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(get_bytes(p), "abc");
}

TEST_F(SimpleIoTest, AccessErrors) {
    ValueCell* missing = file(at("missing.txt"));
    EXPECT_EQ(error_of([&] { io_read(missing, nullptr, nullptr, false, false); }),
              Err::access_cannot_open);
    ValueCell* nodir = file(at("no/such/dir.txt"));
    ValueCell* d = str("x");
    EXPECT_EQ(error_of([&] { io_write(nodir, d, nullptr, nullptr, false, false, false); }),
              Err::access_cannot_open);
    // A directory named without its slash cannot be read as a file.
    mkdir(at("sub").c_str(), 0700);
    ValueCell* sub = file(at("sub"));
    EXPECT_EQ(error_of([&] { io_read(sub, nullptr, nullptr, false, false); }),
              Err::access_cannot_open);
    ValueCell* nolist = file(at("nothing/"));
    EXPECT_EQ(error_of([&] { io_read(nolist, nullptr, nullptr, false, false); }),
              Err::access_cannot_open);
    // A write that the system refuses after the open says the write failed.
    if (exists("/dev/full")) {
        ValueCell* full = file("/dev/full");
        EXPECT_EQ(error_of([&] { io_write(full, d, nullptr, nullptr, false, false, false); }),
                  Err::access_write_failed);
    }
    // The error names the file.
    EXPECT_EQ(io_read_file(at("missing.txt").c_str(), -1, -1, false, false), nullptr);
    EXPECT_LT(io_write_file(at("no/x").c_str(), "a", 1, -1, false), 0);
}

TEST_F(SimpleIoTest, DirectoryListing) {
    put_bytes(at("b.txt"), "b");
    put_bytes(at("a.txt"), "a");
    mkdir(at("sub").c_str(), 0700);
    put_bytes(at("sub/inner"), "i");
    symlink(at("sub").c_str(), at("link").c_str());
    ValueCell* r = io_read(file(dir_ + "/"), nullptr, nullptr, false, false);
    ASSERT_EQ(r->type(), TYPE_BLOCK);
    std::vector<std::string> names;
    for (i32 i = 0; i < block_length(r); i++) {
        ValueCell e = *block_cell_at(r, static_cast<u32>(i));
        EXPECT_EQ(e.type(), TYPE_FILE);
        names.push_back(text(&e));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "link/", "sub/"}));
    // "." and names ending in "." are directory names.
    ASSERT_EQ(chdir(at("sub").c_str()), 0);
    EXPECT_EQ(mold(*io_read(file("."), nullptr, nullptr, false, false)), "[%inner]");
    EXPECT_EQ(block_length(io_read(file(".."), nullptr, nullptr, false, false)), 4);
    EXPECT_EQ(block_length(io_read(file("../sub/."), nullptr, nullptr, false, false)), 1);
    ASSERT_EQ(chdir("/"), 0);
    // The root is a directory like any other (no drive list here).
    ValueCell* root = io_read(file("/"), nullptr, nullptr, false, false);
    bool has_tmp = false;
    for (i32 i = 0; i < block_length(root); i++) {
        ValueCell e = *block_cell_at(root, static_cast<u32>(i));
        if (text(&e) == "tmp/") has_tmp = true;
    }
    EXPECT_TRUE(has_tmp);
    // An empty directory gives an empty block.
    mkdir(at("empty").c_str(), 0700);
    EXPECT_EQ(mold(*io_read(file(at("empty/")), nullptr, nullptr, false, false)), "[]");
}

TEST_F(SimpleIoTest, DirectoryNames) {
    struct Case {
        const char* name;
        bool dir;
    } cases[] = {
        {"a/", true},     {"a\\", true},    {".", true},     {"..", true},     {"a/.", true},
        {"a\\.", true},   {"a/..", true},   {"a\\..", true}, {"a", false},     {"a.", false},
        {"a..", false},   {"", false},      {"/", true},     {".a", false},    {"x/.b", false},
    };
    for (const Case& c : cases) EXPECT_EQ(io_dir_path_q(std::string(c.name)), c.dir) << c.name;
}

TEST_F(SimpleIoTest, Delete) {
    put_bytes(at("f"), "x");
    mkdir(at("d").c_str(), 0700);
    EXPECT_TRUE(io_delete(file(at("f"))));
    EXPECT_FALSE(exists(at("f")));
    EXPECT_FALSE(io_delete(file(at("f"))));
    // A directory is removed by its directory name only.
    EXPECT_FALSE(io_delete(file(at("d"))));
    EXPECT_TRUE(io_delete(file(at("d/"))));
    EXPECT_FALSE(exists(at("d")));
    // A directory that is not empty stays.
    mkdir(at("full").c_str(), 0700);
    put_bytes(at("full/x"), "x");
    EXPECT_FALSE(io_delete(file(at("full/"))));
    EXPECT_TRUE(exists(at("full/x")));
}

TEST_F(SimpleIoTest, QueryGivesTheModificationTime) {
    std::string p = at("q.txt");
    put_bytes(p, "x");
    struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    ValueCell* r = io_query(file(p));
    ASSERT_EQ(r->type(), TYPE_DATE);
    // 2023-11-14 22:13:20 UTC, the milliseconds kept.
    EXPECT_EQ(mold(*r), "14-Nov-2023/22:13:20.123");
    EXPECT_EQ(io_query(file(at("missing")))->type(), TYPE_NONE);
    // A directory name that names a file has no time.
    EXPECT_EQ(io_query(file(p + "/"))->type(), TYPE_NONE);
    mkdir(at("d").c_str(), 0700);
    EXPECT_EQ(io_query(file(at("d/")))->type(), TYPE_DATE);
}

TEST_F(SimpleIoTest, RenameNeverReplaces) {
    put_bytes(at("old"), "old");
    put_bytes(at("other"), "other");
    EXPECT_TRUE(io_rename(file(at("old")), file(at("new"))));
    EXPECT_EQ(get_bytes(at("new")), "old");
    EXPECT_FALSE(exists(at("old")));
    EXPECT_FALSE(io_rename(file(at("new")), file(at("other"))));
    EXPECT_EQ(get_bytes(at("other")), "other");
    EXPECT_EQ(get_bytes(at("new")), "old");
    EXPECT_FALSE(io_rename(file(at("missing")), file(at("x"))));
    // A target that is no text cannot be a name.
    ValueCell n = integer(1);
    EXPECT_FALSE(io_rename(file(at("new")), stack_push(&n)));
}

TEST_F(SimpleIoTest, ServicesAreInstalled) {
    g_host_io = HostIoServices{};
    host_io_init();
    std::string p = at("via-actions.txt");
    ValueCell* f = file(p);
    ValueCell* d = str("through the action");
    action_write_dispatch(f, d, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(get_bytes(p), "through the action");
    ValueCell* r = action_read_dispatch(f, nullptr, nullptr, false, false, false, nullptr);
    EXPECT_EQ(text(r), "through the action");
    EXPECT_EQ(action_query_dispatch(f)->type(), TYPE_DATE);
    EXPECT_TRUE(logic_get(action_delete_dispatch(f)));
    EXPECT_FALSE(exists(p));
}

TEST_F(SimpleIoTest, InvalidUtf8TextIsAnError) {
    std::string p = at("latin1.txt");
    put_bytes(p, "caf\xE9!");
    ValueCell* f = file(p);
    EXPECT_EQ(error_of([&] { io_read(f, nullptr, nullptr, false, false); }),
              Err::access_invalid_utf8);
    EXPECT_EQ(bytes_of(rd(p, true)), "caf\xE9!");
    // Bytes cut at the end of the file are refused too, also inside a line,
    // instead of being dropped.
    put_bytes(p, "caf\xE9");
    EXPECT_EQ(error_of([&] { io_read(f, nullptr, nullptr, false, false); }),
              Err::access_invalid_utf8);
    put_bytes(p, "ab\xE9\ncd");
    EXPECT_EQ(error_of([&] { io_read(f, nullptr, nullptr, false, true); }),
              Err::access_invalid_utf8);
    // A character cut by /part is left out.
    put_bytes(p, "h\xC3\xA9");
    EXPECT_EQ(read_text(p, 2), "h");
    put_bytes(p, "a\nh\xC3\xA9");
    EXPECT_EQ(mold(*rd(p, false, true, 4)), "[\"a\" \"h\"]");
}

}  // namespace
}  // namespace zan::test
