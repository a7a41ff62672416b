// file! and url!: molds with quoting and percent escapes, percent decoding,
// make from a block, path access, local names (POSIX: the identity) and
// the I/O actions handed to the host I/O services.
#include <unistd.h>

#include "dt_test_support.h"
#include "runtime/datatypes/file.h"
#include "runtime/typesystem/host_io.h"
#include "runtime/datatypes/url.h"
#include "runtime/io/lexer/lexer.h"

namespace zan::test {
namespace {

// A url! as the lexer loads it from source text, on the data stack.
ValueCell* load_url(const std::string& src) {
    ValueCell* out = none_push();
    lexer_transcode(out, reinterpret_cast<const u8*>(src.data()), static_cast<u32>(src.size()),
                    true, true, true, 0, nullptr, nullptr, nullptr, nullptr);
    return out;
}

class FileUrlTest : public DtTest {
protected:
    void TearDown() override {
        g_host_io = HostIoServices{};
        calls.clear();
        DtTest::TearDown();
    }
    static ValueCell as(const ValueCell* s, u32 type) {
        ValueCell c = *s;
        cell_set_type(&c, type);
        return c;
    }
    static ValueCell file(const std::string& t) { return as(str(t), TYPE_FILE); }
    static ValueCell url(const std::string& t) { return as(str(t), TYPE_URL); }
    static ValueCell* path_get(const ValueCell& base, const ValueCell& key) {
        ValueCell b = base, k = key;
        ValueCell* held = stack_push(&b);
        ValueCell* kc = stack_push(&k);
        return action_eval_path_dispatch(held, kc, nullptr, nullptr, nullptr, nullptr, -1, false,
                                         false, true, false);
    }
    // What the fake services saw.
    static inline std::vector<std::string> calls;
};

TEST_F(FileUrlTest, FileMoldQuotesWhenNeeded) {
    struct Case {
        const char* name;
        const char* molded;
    } const cases[] = {
        {"", "%\"\""},
        {"dir/file.txt", "%dir/file.txt"},
        {"/c/a-b_c~d!$&'()*+,=?@#", "%/c/a-b_c~d!$&'()*+,=?@#"},
        {"my file", "%\"my file\""},
        {"caf\u00E9", "%caf\u00E9"},
        {"100%", "%\"100%\""},
        {"a:b\\c", "%\"a:b\\c\""},
        // Inside the quotes what would end or change the literal is escaped.
        {"a\"b", "%\"a^\"b\""},
        {"a^b c", "%\"a^^b c\""},
        {"a\tb", "%\"a^-b\""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(file(c.name)), c.molded) << c.name;
    EXPECT_EQ(form(file("my file")), "my file");
    ValueCell r = call({file("my file"), integer(4)}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "%\"my");
}

TEST_F(FileUrlTest, UrlMoldEscapesUnsafeBytes) {
    struct Case {
        const char* text;
        const char* molded;
    } const cases[] = {
        {"http://a.com/x?y=1&z=2#f", "http://a.com/x?y=1&z=2#f"},
        {"http://a.com/a b", "http://a.com/a%20b"},
        {"http://x/caf\u00E9", "http://x/caf%C3%A9"},
        {"http://x/100%", "http://x/100%25"},
        {"http://x/<\"{}>", "http://x/%3C%22%7B%7D%3E"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(url(c.text)), c.molded) << c.text;
    EXPECT_EQ(form(url("http://a.com/a b")), "http://a.com/a b");
    ValueCell r = call({url("a b c"), integer(5)}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "a%20b");
}

TEST_F(FileUrlTest, EncodeAndDecode) {
    u32 n = 0;
    EXPECT_STREQ(url_encode_char(URL_FILE_SAFE, '/', &n), "/");
    EXPECT_EQ(n, 1u);
    EXPECT_STREQ(url_encode_char(URL_UNRESERVED, '/', &n), "%2F");
    EXPECT_EQ(n, 3u);
    EXPECT_STREQ(url_encode_char(URL_UNRESERVED, '~', &n), "~");
    EXPECT_STREQ(url_encode_char(URL_FILE_SAFE, 0xE9, &n), "%E9");
    ValueCell* out = string_push_new(16);
    url_encode(str("a b/\u00E9"), out, URL_UNRESERVED);
    EXPECT_EQ(text(out), "a%20b%2F%C3%A9");

    struct Case {
        const char* in;
        const char* out;
    } const cases[] = {
        {"a%20b", "a b"},
        {"caf%C3%A9", "caf\u00E9"},
        {"%e2%82%ac", "\u20AC"},          // either case of digit
        {"%41%42", "AB"},
        {"100%", "100%"},                 // a "%" without two digits
        {"%zz", "%zz"},
        {"%E9x", "%E9x"},                 // a lead byte without its continuation stays
        {"%C3%41", "%C3A"},
        {"caf\u00E9", "caf\u00E9"},       // raw characters pass
    };
    for (const Case& c : cases) {
        ValueCell* t = string_push_new(16);
        url_decode(str(c.in), t);
        EXPECT_EQ(text(t), c.out) << c.in;
    }
    std::string src = "http://x/a%20b";
    ValueCell* u = load_url(src);
    EXPECT_EQ(u->type(), static_cast<u32>(TYPE_URL));
    EXPECT_EQ(text(u), "http://x/a b");
}

// A url! keeps the escapes whose decoding would change what it names (those
// of delimiters that mold plainly, and of a "%" before two hex digits); its
// mold gives the loaded text back.
TEST_F(FileUrlTest, UrlKeepsEscapedDelimiters) {
    struct Case {
        const char* in;
        const char* text;
        const char* molded;
    } const cases[] = {
        {"http://x/a%2Fb", "http://x/a%2Fb", "http://x/a%2Fb"},
        {"http://x/a%2fb", "http://x/a%2Fb", "http://x/a%2Fb"},
        {"http://x/?q=x%26y%3d1#f%23", "http://x/?q=x%26y%3D1#f%23", "http://x/?q=x%26y%3D1#f%23"},
        {"http://u%40v%3Aw@x/", "http://u%40v%3Aw@x/", "http://u%40v%3Aw@x/"},
        {"http://x/%5B%5D%3B%20", "http://x/[]; ", "http://x/%5B%5D%3B%20"},
        {"http://x/100%25", "http://x/100%", "http://x/100%25"},
        {"http://x/100%2541", "http://x/100%2541", "http://x/100%2541"},
        {"http://x/%25%34%31", "http://x/%2541", "http://x/%2541"},
        {"http://x/%25%2F", "http://x/%%2F", "http://x/%25%2F"},
        {"http://x/%25zz", "http://x/%zz", "http://x/%25zz"},
        {"http://x/caf%C3%A9%3F", "http://x/caf\u00E9%3F", "http://x/caf%C3%A9%3F"},
    };
    for (const Case& c : cases) {
        std::string src = c.in;
        ValueCell* u = load_url(src);
        EXPECT_EQ(text(u), c.text) << c.in;
        EXPECT_EQ(mold(url(c.text)), c.molded) << c.in;
    }
    // In a url! made from a string, a "%" that starts no escape the value
    // keeps is a character of it, escaped by the mold; the mold loads back
    // as a value that molds the same.
    EXPECT_EQ(mold(url("http://x/%41%2F")), "http://x/%2541%2F");
    std::string molded = mold(url("http://x/%a9"));
    EXPECT_EQ(molded, "http://x/%25a9");
    ValueCell* back = load_url(molded);
    EXPECT_EQ(mold(*back), molded);
}

TEST_F(FileUrlTest, MakeUrlFromABlock) {
    ValueCell proto;
    datatype_box(&proto, TYPE_URL);
    ValueCell issue;
    issue_make_at("frag", &issue);
    struct Case {
        ValueCell spec;
        const char* want;
    } const cases[] = {
        {*blk({word("http"), word("host"), integer(8080), word("a"), word("b")}),
         "http://host:8080/a/b"},
        {*blk({word("http"), word("host")}), "http://host"},
        {*blk({word("http"), word("host"), integer(80)}), "http://host:80"},
        {*blk({word("ftp"), *str("h.org"), word("a"), issue}), "ftp://h.org/a#frag"},
        {*blk({word("http")}), "http://"},
    };
    for (const Case& c : cases) {
        ValueCell spec = c.spec;
        ValueCell* m = action_make_dispatch(&proto, &spec);
        EXPECT_EQ(m->type(), static_cast<u32>(TYPE_URL));
        EXPECT_EQ(text(m), c.want);
        spec = c.spec;
        ValueCell* t = action_to_dispatch(&proto, &spec);
        EXPECT_EQ(text(t), c.want);
    }
    ValueCell* empty = blk({});
    EXPECT_EQ(error_of([&] { action_to_dispatch(&proto, empty); }), Err::script_bad_to_arg);
    // Other specs and targets take the string! way.
    ValueCell* s = str("x://y");
    ValueCell* t = action_to_dispatch(&proto, s);
    EXPECT_EQ(t->type(), static_cast<u32>(TYPE_URL));
    EXPECT_EQ(text(t), "x://y");
    ValueCell fproto;
    datatype_box(&fproto, TYPE_FILE);
    ValueCell* f = action_make_dispatch(&fproto, blk({word("a"), word("b")}));
    EXPECT_EQ(f->type(), static_cast<u32>(TYPE_FILE));
    EXPECT_EQ(text(f), "ab");
}

TEST_F(FileUrlTest, PathAccessAddsOneSegment) {
    struct Case {
        ValueCell base;
        ValueCell key;
        const char* want;
    } const cases[] = {
        {url("http://a.com"), word("b"), "http://a.com/b"},
        {url("http://a.com/"), word("b"), "http://a.com/b"},
        {url("http://a.com"), file("/b"), "http://a.com/b"},
        {url("http://a.com/"), file("/b"), "http://a.com/b"},
        {url("http://a.com/x"), integer(1), "http://a.com/x/1"},
        {file("dir"), word("f.txt"), "dir/f.txt"},
        {file("/"), *str("etc"), "/etc"},
    };
    for (const Case& c : cases) {
        std::string before = text(&c.base);
        ValueCell* r = path_get(c.base, c.key);
        EXPECT_EQ(r->type(), c.base.type());
        EXPECT_EQ(text(r), c.want);
        EXPECT_EQ(text(&c.base), before);  // the value itself is unchanged
    }
    ValueCell u = url("http://a.com");
    ValueCell k = word("b");
    ValueCell v = integer(1);
    EXPECT_EQ(error_of([&] {
                  action_eval_path_dispatch(&u, &k, &v, nullptr, nullptr, nullptr, -1, false, false,
                                            true, false);
              }),
              Err::script_bad_path_set);
}

TEST_F(FileUrlTest, LocalNamesAreThePosixNames) {
    // ":" and "\" are ordinary characters and survive both ways.
    for (const char* name : {"/c/dir/file.txt", "a:b\\c", "dir/", "/", "caf\u00E9", "//x"}) {
        ValueCell f = file(name);
        std::string local = file_to_local_cstr(&f);
        EXPECT_EQ(local, name);
        ValueCell* back = file_load(reinterpret_cast<const u8*>(local.data()),
                                    static_cast<u32>(local.size()));
        EXPECT_EQ(back->type(), static_cast<u32>(TYPE_FILE));
        EXPECT_EQ(text(back), name);
    }
    ValueCell nul = file(std::string("a\0b", 3));
    EXPECT_EQ(error_of([&] { file_to_local_cstr(&nul); }), Err::access_cannot_open);

    ValueCell* prefix = file_current_dir_prefix();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string want = cwd;
    if (want.back() != '/') want += '/';
    EXPECT_EQ(text(prefix), want);
    ValueCell* out = string_push_new(16);
    ValueCell rel = file("x/y");
    file_to_local(&rel, out, true);
    EXPECT_EQ(text(out), want + "x/y");
    ValueCell* out2 = string_push_new(16);
    ValueCell abs = file("/x");
    file_to_local(&abs, out2, true);
    EXPECT_EQ(text(out2), "/x");
}

TEST_F(FileUrlTest, FileActionsOnAMissingFolder) {
    ValueCell f = file("/tmp/zan-no-such-folder-8d1f/none");
    ValueCell* held = stack_push(&f);
    ValueCell data = *str("x");
    EXPECT_EQ(error_of([&] {
                  action_read_dispatch(held, nullptr, nullptr, false, false, false, nullptr);
              }),
              Err::access_cannot_open);
    EXPECT_EQ(error_of([&] {
                  action_write_dispatch(held, &data, false, false, false, false, nullptr, nullptr,
                                        nullptr, nullptr);
              }),
              Err::access_cannot_open);
    EXPECT_FALSE(logic_get(action_delete_dispatch(held)));
    EXPECT_EQ(action_query_dispatch(held)->type(), TYPE_NONE);
    EXPECT_FALSE(logic_get(action_rename_dispatch(held, held)));
    EXPECT_EQ(error_of([&] {
                  action_read_dispatch(held, nullptr, nullptr, false, false, false, &data);
              }),
              Err::internal_not_done);
    EXPECT_EQ(error_of([&] { action_open_dispatch(held, false, false, false, false, nullptr); }),
              Err::script_expect_arg);
}

TEST_F(FileUrlTest, FileActionsUseTheHostServices) {
    g_host_io.io_read = [](ValueCell* file, ValueCell* part, ValueCell*, bool binary,
                           bool lines) -> ValueCell* {
        calls.push_back("read " + text(file) + (part ? " part" : "") + (binary ? " binary" : "") +
                        (lines ? " lines" : ""));
        return str("content");
    };
    g_host_io.io_write = [](ValueCell* file, ValueCell* data, ValueCell*, ValueCell*, bool,
                            bool append, bool) -> ValueCell* {
        calls.push_back("write " + text(file) + " " + text(data) + (append ? " append" : ""));
        return stack_push(file);
    };
    g_host_io.io_delete = [](ValueCell*) { return true; };
    g_host_io.io_rename = [](ValueCell* from, ValueCell* to) {
        calls.push_back("rename " + text(from) + " " + text(to));
        return false;
    };
    g_host_io.io_query = [](ValueCell*) { return none_push(); };
    ValueCell f = file("/tmp/a");
    ValueCell* held = stack_push(&f);
    ValueCell two = integer(2);
    ValueCell* r = action_read_dispatch(held, &two, nullptr, true, false, false, nullptr);
    EXPECT_EQ(text(r), "content");
    ValueCell data = *str("xyz");
    action_write_dispatch(held, &data, false, false, false, true, nullptr, nullptr, nullptr,
                          nullptr);
    ValueCell* d = action_delete_dispatch(held);
    ASSERT_EQ(d->type(), static_cast<u32>(TYPE_LOGIC));
    EXPECT_TRUE(logic_get(d));
    ValueCell to = file("/tmp/b");
    ValueCell* rn = action_rename_dispatch(held, &to);
    ASSERT_EQ(rn->type(), static_cast<u32>(TYPE_LOGIC));
    EXPECT_FALSE(logic_get(rn));
    EXPECT_EQ(action_query_dispatch(held)->type(), static_cast<u32>(TYPE_NONE));
    std::vector<std::string> want = {"read /tmp/a part binary", "write /tmp/a xyz append",
                                     "rename /tmp/a /tmp/b"};
    EXPECT_EQ(calls, want);
    EXPECT_EQ(error_of([&] {
                  action_write_dispatch(held, &data, false, false, false, false, nullptr, nullptr,
                                        &data, nullptr);
              }),
              Err::internal_not_done);
}

TEST_F(FileUrlTest, UrlReadAndWriteOverHttp) {
    ValueCell u = url("http://example.org/x");
    ValueCell* held = stack_push(&u);
    g_host_io.http_request = [](ValueCell* method, ValueCell* url, ValueCell* headers,
                                ValueCell* body, bool binary, bool, bool info) -> ValueCell* {
        calls.push_back(std::string(symbol_to_cstr(word_symbol(method))) + " " + text(url) +
                        (headers->type() == TYPE_BLOCK ? " headers" : "") +
                        (body->type() == TYPE_NONE ? "" : " " + form(*body)) +
                        (binary ? " binary" : "") + (info ? " info" : ""));
        if (body->type() == TYPE_STRING && text(body) == "fail") return nullptr;
        return str("response");
    };
    ValueCell* r = action_read_dispatch(held, nullptr, nullptr, true, false, false, nullptr);
    EXPECT_EQ(text(r), "response");
    ValueCell two = integer(2);
    EXPECT_EQ(error_of([&] {
                  action_read_dispatch(held, &two, nullptr, false, false, false, nullptr);
              }),
              Err::internal_not_done);
    ValueCell body = *str("data");
    action_write_dispatch(held, &body, false, false, true, false, nullptr, nullptr, nullptr,
                          nullptr);
    ValueCell req = *blk({word("put"), *blk({word("Accept"), *str("x")}), *str("b")});
    action_write_dispatch(held, &req, false, false, false, false, nullptr, nullptr, nullptr,
                          nullptr);
    std::vector<std::string> want = {"GET http://example.org/x binary",
                                     "POST http://example.org/x data info",
                                     "put http://example.org/x headers b"};
    EXPECT_EQ(calls, want);
    ValueCell fail = *str("fail");
    EXPECT_EQ(error_of([&] {
                  action_write_dispatch(held, &fail, false, false, false, false, nullptr, nullptr,
                                        nullptr, nullptr);
              }),
              Err::access_no_connect);
    struct Bad {
        ValueCell data;
    } const bad[] = {
        {*blk({integer(1)})},
        {*blk({word("get"), *str("h")})},
        {integer(5)},
    };
    for (const Bad& b : bad) {
        ValueCell d = b.data;
        EXPECT_EQ(error_of([&] {
                      action_write_dispatch(held, &d, false, false, false, false, nullptr,
                                            nullptr, nullptr, nullptr);
                  }),
                  Err::script_invalid_arg)
            << mold(d);
    }
}

TEST_F(FileUrlTest, OtherSchemesGoThroughTheUrlParser) {
    ValueCell u = url("ftp://example.org/x");
    ValueCell* held = stack_push(&u);
    g_host_io.parse_url = [](ValueCell*) { return none_push(); };
    EXPECT_EQ(error_of([&] {
                  action_read_dispatch(held, nullptr, nullptr, false, false, false, nullptr);
              }),
              Err::script_invalid_arg);
}

TEST_F(FileUrlTest, StringActionsWorkOnFilesAndUrls) {
    for (u32 type : {static_cast<u32>(TYPE_FILE), static_cast<u32>(TYPE_URL)}) {
        SCOPED_TRACE(type);
        ValueCell v = as(str("ab/cd"), type);
        EXPECT_EQ(action_length_q_dispatch(&v), 5);
        call({v, *str("/e")}, [] { action_append(-1, -1, -1); });
        EXPECT_EQ(text(&v), "ab/cd/e");
        ValueCell slash = chr('/');
        ValueCell* found = action_find_dispatch(&v, &slash, nullptr, false, false, false, false,
                                                nullptr, nullptr, true, false, false, false);
        EXPECT_EQ(series_index(found), 5);
        ValueCell* copy = action_copy_dispatch(&v, nullptr, nullptr, false, nullptr);
        EXPECT_EQ(copy->type(), type);
        ValueCell* p = action_pick_dispatch(&v, 1, nullptr);
        EXPECT_EQ(p->type(), static_cast<u32>(TYPE_CHAR));
        ValueCell* s = str("AB/CD/E");
        EXPECT_TRUE(action_compare(&v, s, CMP_EQUAL));
        EXPECT_FALSE(have(type, ACT_SORT));
        EXPECT_FALSE(have(type, ACT_TRIM));
        EXPECT_FALSE(have(type, ACT_RANDOM));
        EXPECT_FALSE(have(type, ACT_PUT));
    }
    EXPECT_TRUE(have(TYPE_URL, ACT_OPEN));
    EXPECT_FALSE(have(TYPE_FILE, ACT_OPEN));
    EXPECT_FALSE(have(TYPE_URL, ACT_DELETE));
}

}  // namespace
}  // namespace zan::test
