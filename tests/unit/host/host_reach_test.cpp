// The pure helpers of HTTP, the process runner and the clipboard: the
// header map built from raw header lines, the splitting of a command line,
// and the text/uri-list form of files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/io/host/clipboard.h"
#include "runtime/io/host/http_client.h"
#include "runtime/io/host/process_runner.h"

namespace zan {
namespace {

using Fields = std::vector<std::pair<std::string, std::vector<std::string>>>;

Fields headers_of(std::initializer_list<const char*> lines) {
    HttpHeaders h;
    for (const char* l : lines) h.take_line(l);
    return h.fields;
}

TEST(HttpHeaderLines, EachLineSplitsAtItsFirstColon) {
    struct Case {
        const char* line;
        const char* name;
        const char* value;
    } const cases[] = {
        {"Content-Type: text/plain\r\n", "Content-Type", "text/plain"},
        {"X-Tight:value\r\n", "X-Tight", "value"},
        {"Date: Thu, 10 Dec 2026 00:12:10 GMT\r\n", "Date", "Thu, 10 Dec 2026 00:12:10 GMT"},
        {"Location:http://h:8080/a?b=c:d\r\n", "Location", "http://h:8080/a?b=c:d"},
        {"X-Spaces: \t padded \t\r\n", "X-Spaces", "padded"},
        {"X-Empty:\r\n", "X-Empty", ""},
        {"X-Bare-LF: yes\n", "X-Bare-LF", "yes"},
    };
    for (const Case& c : cases) {
        Fields f = headers_of({"HTTP/1.1 200 OK\r\n", c.line});
        ASSERT_EQ(f.size(), 1u) << c.line;
        EXPECT_EQ(f[0].first, c.name);
        EXPECT_EQ(f[0].second, std::vector<std::string>{c.value}) << c.line;
    }
}

TEST(HttpHeaderLines, RepeatsCollectAndEachStatusLineStartsAfresh) {
    Fields f = headers_of({"HTTP/1.1 302 Found\r\n", "Location: /next\r\n", "X-Hop: 1\r\n", "\r\n",
                           "HTTP/1.1 200 OK\r\n", "Set-Cookie: a=1\r\n", "X-One: 1\r\n",
                           "set-cookie: b=2\r\n", "no colon here\r\n", ": no name\r\n", "\r\n"});
    Fields want = {{"Set-Cookie", {"a=1", "b=2"}}, {"X-One", {"1"}}};
    EXPECT_EQ(f, want);
}

TEST(ProcessCommandLine, SplitsByTheQuoteRules) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } const cases[] = {
        {"ls -l", {"ls", "-l"}},
        {"  spaced \t out  ", {"spaced", "out"}},
        {"printf \"a b\" c", {"printf", "a b", "c"}},
        {"say \"in\"ner\"\"", {"say", "in\"ner\""}},
        {"x a\"b c\"d", {"x", "a\"b c\"d"}},
        {"x \"\"", {"x", ""}},
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(process_split_command(c.line), c.args) << c.line;
}

TEST(ClipboardUriList, FilesRoundTripThroughPercentEncodedUris) {
    std::vector<std::string> paths = {"/tmp/plain.txt", "/tmp/with space/%25 & \xC3\xA9.txt",
                                      "/dir/"};
    std::string list = clipboard_uri_list(paths);
    EXPECT_EQ(list,
              "file:///tmp/plain.txt\r\n"
              "file:///tmp/with%20space/%2525%20%26%20%C3%A9.txt\r\n"
              "file:///dir/\r\n");
    EXPECT_EQ(clipboard_paths_of(list), paths);
    // Comments, other schemes and a host part as other programs write them.
    EXPECT_EQ(clipboard_paths_of("# comment\r\nhttp://h/x\r\nfile://localhost/a%20b\nfile:///c"),
              (std::vector<std::string>{"/a b", "/c"}));
}

}  // namespace
}  // namespace zan
