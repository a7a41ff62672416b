// Syntax errors of load mode: the error id and its arguments ("(line N)",
// the datatype or expected character, and the excerpt of the source).
#include <cstring>
#include <string>

#include "lexer_test_support.h"

namespace zan::test {
namespace {

struct ErrorCase {
    std::string src;
    Err id;
    std::vector<std::string> args;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.src; }

class ErrorTable : public LexerTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorTable, RaisesTheSyntaxError) {
    const ErrorCase& c = GetParam();
    RaisedError e = load_error(c.src);
    EXPECT_EQ(err_id_name(e.id), std::string(err_id_name(c.id))) << "source: " << c.src;
    EXPECT_EQ(e.args, c.args) << "source: " << c.src;
}

const std::string L1 = "(line 1)";

const ErrorCase kErrors[] = {
    // Series left open or closed twice.
    {"[1 2", Err::syntax_missing, {L1, "]", "[1 2"}},
    {"1 2]", Err::syntax_missing, {L1, "[", "1 2]"}},
    {"x [1 (2", Err::syntax_missing, {L1, ")", "(2"}},
    {"(1 2", Err::syntax_missing, {L1, ")", "(1 2"}},
    {"(1 2]", Err::syntax_missing, {L1, ")", "(1 2]"}},
    {"[1 2)", Err::syntax_missing, {L1, "]", "[1 2)"}},
    {"a )", Err::syntax_missing, {L1, "(", "a )"}},
    {"#[a 1", Err::syntax_missing, {L1, "]", "#[a 1"}},
    {"(x , y)", Err::syntax_missing, {L1, "(", "(x , y)"}},
    // Bad characters.
    {"}", Err::syntax_bad_char, {L1, "}"}},
    {"a \\b", Err::syntax_bad_char, {L1, "\\b"}},
    {"a \xC0", Err::syntax_bad_char, {L1, "\xC3\x80"}},
    // Invalid values, by datatype.
    {"1a", Err::syntax_invalid, {L1, "integer!", "1a"}},
    {"1''0", Err::syntax_invalid, {L1, "integer!", "1''0"}},
    {"9h", Err::syntax_invalid, {L1, "integer!", "9h"}},
    {"123456789h", Err::syntax_invalid, {L1, "integer!", "123456789h"}},
    {"Fh", Err::syntax_invalid, {L1, "word!", "Fh"}},
    {"1.5e", Err::syntax_invalid, {L1, "float!", "1.5e"}},
    {"1.#INX", Err::syntax_invalid, {L1, "float!", "1.#INX"}},
    {"1..2", Err::syntax_invalid, {L1, "float!", "1..2"}},
    {"\"abc", Err::syntax_invalid, {L1, "string!", "\"abc"}},
    {"\"a\nb\"", Err::syntax_invalid, {L1, "string!", "\"a"}},
    {"\"^(1234567)\"", Err::syntax_invalid, {L1, "string!", "\"^(1234567)\""}},
    {"\"^(110000)\"", Err::syntax_invalid, {L1, "string!", "\"^(110000)\""}},
    {"x {abc", Err::syntax_invalid, {L1, "string!", "{abc"}},
    {"x {a {b} c", Err::syntax_invalid, {L1, "string!", "{a {b} c"}},
    {"%%{a}%", Err::syntax_invalid, {L1, "string!", "%%{a}%"}},
    {"%{a}%%", Err::syntax_invalid, {L1, "string!", "%{a}%%"}},
    {"#\"\"", Err::syntax_invalid, {L1, "char!", "#\"\""}},
    {"#\"ab\"", Err::syntax_invalid, {L1, "char!", "#\"ab\""}},
    {"#\"^(110000)\"", Err::syntax_invalid, {L1, "char!", "#\"^(110000)\""}},
    {"%\"abc", Err::syntax_invalid, {L1, "file!", "%\"abc"}},
    {"#{123}", Err::syntax_invalid, {L1, "binary!", "3}"}},
    {"#{12 3G}", Err::syntax_invalid, {L1, "binary!", "G}"}},
    {"5#{00}", Err::syntax_invalid, {L1, "binary!", "5#{00}"}},
    {"1.2..3", Err::syntax_invalid, {L1, "tuple!", "1.2..3"}},
    {"256.0.0", Err::syntax_invalid, {L1, "tuple!", "256.0.0"}},
    {"12x3.5", Err::syntax_invalid, {L1, "pair!", "12x3.5"}},
    {"(1, )", Err::syntax_invalid, {L1, "point2D!", "(1, )"}},
    {"(1, 2, 3, 4)", Err::syntax_invalid, {L1, "point3D!", "(1, 2, 3, 4)"}},
    {"1:2:60", Err::syntax_invalid, {L1, "time!", "1:2:60"}},
    {"29-Feb-2023", Err::syntax_invalid, {L1, "date!", "29-Feb-2023"}},
    {"$1.123456", Err::syntax_invalid, {L1, "money!", "$1.123456"}},
    {"<a", Err::syntax_invalid, {L1, "tag!", "<a"}},
    {"'a:", Err::syntax_invalid, {L1, "lit-word!", "'a:"}},
    {":a:", Err::syntax_invalid, {L1, "set-word!", ":a:"}},
    {"#", Err::syntax_invalid, {L1, "issue!", "#"}},
    {"#a:b", Err::syntax_invalid, {L1, "issue!", "#a:b"}},
    {"a/b:/c", Err::syntax_invalid, {L1, "path!", "a/b:/c"}},
    {"a/", Err::syntax_invalid, {L1, "path!", "a/"}},
    {"a/b/", Err::syntax_invalid, {L1, "path!", "a/b/"}},
    {"a/:", Err::syntax_invalid, {L1, "path!", "a/:"}},
    {"a/:/b", Err::syntax_invalid, {L1, "path!", "a/:/b"}},
    {"a/:1", Err::syntax_invalid, {L1, "path!", "a/:1"}},
    {"1:30,5", Err::syntax_invalid, {L1, "time!", "1:30,5"}},
    {",", Err::syntax_invalid, {L1, "point2D!", ","}},
    {"#[a]", Err::syntax_invalid, {L1, "map!", "#[a]"}},
    {"#[[1] 2]", Err::syntax_invalid, {L1, "map!", "#[[1] 2]"}},
    // Construction syntax.
    {"#(nothing)", Err::syntax_malconstruct, {L1, "#(nothing)"}},
    {"#()", Err::syntax_malconstruct, {L1, "#()"}},
    // The line of the error.
    {"a\nb\n\n1a", Err::syntax_invalid, {"(line 4)", "integer!", "1a"}},
    {"[\n1\n", Err::syntax_missing, {"(line 3)", "]", "["}},
};
INSTANTIATE_TEST_SUITE_P(Literals, ErrorTable, ::testing::ValuesIn(kErrors));

TEST_F(LexerTest, TheExcerptStopsAt30BytesOrALineFeed) {
    RaisedError e = load_error("[" + std::string(40, 'a'));
    ASSERT_EQ(e.args.size(), 3u);
    EXPECT_EQ(e.args[2], "[" + std::string(29, 'a'));

    // Whole code points only: a 2-byte character that would pass 30 bytes
    // is left out.
    e = load_error("[" + std::string(28, 'a') + "\xC3\xA9" "b");
    EXPECT_EQ(e.args[2], "[" + std::string(28, 'a'));

    e = load_error("1a b\nc d");
    EXPECT_EQ(e.args[2], "1a b");
}

TEST_F(LexerTest, ANulByteIsReportedWhereItStands) {
    // A NUL byte would end the scan and silently drop the rest.
    std::string src("a b", 3);
    src += '\0';
    src += "c [d";
    RaisedError e = load_error(src);
    EXPECT_EQ(e.id, Err::syntax_bad_char);
    ASSERT_EQ(e.args.size(), 2u);
    EXPECT_EQ(e.args[0], "(line 1)");
    EXPECT_EQ(e.args[1], std::string("\0c [d", 5));

    // Inside a token it ends the token first, then stops the load.
    std::string in_word("abc\0def", 7);
    EXPECT_EQ(load_error(in_word).id, Err::syntax_bad_char);

    // Inside a string it is an invalid string.
    std::string in_string("\"a\0b\"", 5);
    RaisedError s = load_error(in_string);
    EXPECT_EQ(s.id, Err::syntax_invalid);
    EXPECT_EQ(s.args[1], "string!");

    // Scan mode reports error! rather than a short, clean input.
    EXPECT_EQ(scan_type(std::string("\0 1", 3)), static_cast<i32>(TYPE_ERROR));
}

TEST_F(LexerTest, ScanModeReportsErrorsWithoutRaising) {
    ValueCell out;
    for (const char* src : {"1a", "[1 2", "] 1", "\"abc", "#(nothing)", "a/"}) {
        i32 t = lexer_transcode(&out, reinterpret_cast<const u8*>(src),
                                static_cast<u32>(std::strlen(src)), true, true, false, 0, nullptr,
                                nullptr, nullptr, nullptr);
        EXPECT_EQ(t, static_cast<i32>(TYPE_ERROR)) << src;
        EXPECT_EQ(out.type(), TYPE_NONE) << src;
    }
}

}  // namespace
}  // namespace zan::test
