// The pure helpers of HTTP, the process runner and the clipboard: the
// header map built from raw header lines, the splitting of a command line,
// and the text/uri-list form of files.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
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

// The words the shell itself makes of a line (printf gives each back ended
// by a NUL); nullopt when the shell refuses the line.
std::optional<std::vector<std::string>> shell_words(const std::string& line) {
    std::string script = "printf '%s\\0' " + line;
    std::string quoted = process_quote_word(script);
    FILE* f = popen(("/bin/sh -c " + quoted + " 2>/dev/null").c_str(), "r");
    if (!f) return std::nullopt;
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    if (pclose(f) != 0) return std::nullopt;
    std::vector<std::string> words;
    for (size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1)
        words.push_back(out.substr(start, end - start));
    return words;
}

TEST(ProcessCommandLine, SplitsWordsAsTheShellDoes) {
    // Lines without anything the shell would expand: the shell is the oracle.
    const char* lines[] = {
        "ls -l",
        "  spaced \t out  ",
        "sh -c 'exit 7'",
        "printf \"a b\" c",
        "say \"in\"ner\"\"",
        "x a\"b c\"d",
        "x \"\" ''",
        "a\\ b c\\\\d 'it'\\''s'",
        "\"q\\\"x\" \"a\\b\" \"back\\\\slash\" 'single \"double\" inside' \"it's\"",
        "one\\\ntwo 'line\nbreak'",
        "tail\\",
        "'/dir with space/prog.sh' arg",
    };
    for (const char* line : lines) {
        std::optional<std::vector<std::string>> want = shell_words(line);
        ASSERT_TRUE(want.has_value()) << line;
        std::vector<std::string> got;
        EXPECT_TRUE(process_split_command(line, &got)) << line;
        EXPECT_EQ(got, *want) << line;
    }
}

TEST(ProcessCommandLine, ExpandsNothingAndRefusesOpenQuotes) {
    std::vector<std::string> got;
    ASSERT_TRUE(process_split_command("echo $HOME *.txt ~ #x a|b;c `id` \"$x\"", &got));
    EXPECT_EQ(got, (std::vector<std::string>{"echo", "$HOME", "*.txt", "~", "#x", "a|b;c", "`id`",
                                             "$x"}));
    ASSERT_TRUE(process_split_command("", &got));
    EXPECT_TRUE(got.empty());
    for (const char* open : {"echo 'abc", "echo \"abc", "echo \"a\\\"", "'"}) {
        EXPECT_FALSE(process_split_command(open, &got)) << open;
        EXPECT_FALSE(shell_words(open).has_value()) << open;
    }
    // A quoted word comes back whole from both.
    for (const std::string word : {"plain", "with space", "it's", "'", "", "a\"b\\c$d"}) {
        ASSERT_TRUE(process_split_command(process_quote_word(word), &got));
        EXPECT_EQ(got, std::vector<std::string>{word}) << word;
        EXPECT_EQ(shell_words(process_quote_word(word)), std::vector<std::string>{word}) << word;
    }
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
