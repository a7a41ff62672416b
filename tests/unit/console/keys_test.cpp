// Decoding terminal bytes into editor keys, and UTF-8 lines of pipes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console_routines.h"
#include "runtime/terminal/terminal_keys.h"

namespace zan::console {
namespace {

// Bytes with pauses: PAUSE makes a read with a time limit answer
// BYTE_TIMEOUT (a read without one skips it); past the end, BYTE_END.
constexpr int PAUSE = -1;

class ScriptedBytes : public ByteInput {
public:
    explicit ScriptedBytes(std::vector<int> script) : script_(std::move(script)) {}
    explicit ScriptedBytes(const std::string& bytes) {
        for (unsigned char c : bytes) script_.push_back(c);
    }
    int next_byte(int timeout_ms) override {
        if (!back_.empty()) {
            int b = back_.back();
            back_.pop_back();
            return b;
        }
        while (pos_ < script_.size() && script_[pos_] == PAUSE) {
            pos_++;
            if (timeout_ms >= 0) return BYTE_TIMEOUT;
        }
        if (pos_ >= script_.size()) return BYTE_END;
        return script_[pos_++];
    }
    void unread(u8 byte) override { back_.push_back(byte); }

private:
    std::vector<int> script_;
    std::vector<int> back_;
    size_t pos_ = 0;
};

std::vector<i32> keys_of(ByteInput& in) {
    std::vector<i32> keys;
    for (;;) {
        i32 k = read_key(in);
        if (k == KEY_END_OF_INPUT) break;
        keys.push_back(k);
    }
    return keys;
}

struct KeyCase {
    const char* name;
    std::string bytes;
    std::vector<i32> keys;
};

class KeyTable : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyTable, Decodes) {
    ScriptedBytes in(GetParam().bytes);
    EXPECT_EQ(keys_of(in), GetParam().keys);
}

const KeyCase kKeys[] = {
    {"arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT}},
    {"application_arrows", "\x1bOA\x1bOB\x1bOC\x1bOD", {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT}},
    {"modified_arrows", "\x1b[1;5A\x1b[1;2D", {KEY_UP, KEY_LEFT}},
    {"xterm_home_end", "\x1b[H\x1b[F\x1bOH\x1bOF", {KEY_HOME, KEY_END, KEY_HOME, KEY_END}},
    {"vt220_home_end", "\x1b[1~\x1b[4~\x1b[7~\x1b[8~", {KEY_HOME, KEY_END, KEY_HOME, KEY_END}},
    {"editing_keys", "\x1b[2~\x1b[3~\x1b[5~\x1b[6~",
     {KEY_INSERT, KEY_DELETE, KEY_PAGE_UP, KEY_PAGE_DOWN}},
    {"modified_delete", "\x1b[3;5~", {KEY_DELETE}},
    {"function_keys_ignored", "\x1b[15~\x1bOP\x1b[[A", {KEY_NONE, KEY_NONE, KEY_NONE}},
    {"mouse_report_ignored", "\x1b[M !!x", {KEY_NONE, 'x'}},
    {"enter_as_cr_or_lf", "\r\n", {KEY_ENTER, KEY_ENTER}},
    {"backspace_codes", "\x7f\x08", {127, 8}},
    {"control_keys", "\x01\x03\x04\x0b", {1, 3, 4, 11}},
    {"utf8", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", {'a', 0xE9, 0x20AC, 0x1F600}},
    {"bad_lead_byte", "\xff" "a", {0xFFFD, 'a'}},
    {"stray_continuation", "\x80" "a", {0xFFFD, 'a'}},
    {"cut_sequence", "\xc3(", {0xFFFD, '('}},
    {"overlong", "\xe0\x80\x80" "a", {0xFFFD, 'a'}},
    {"surrogate", "\xed\xa0\x80", {0xFFFD}},
    {"alt_key_ignored", "\x1bx" "y", {KEY_NONE, 'y'}},
    {"escape_twice", "\x1b\x1b[A", {KEY_ESCAPE, KEY_UP}},
    {"escape_at_end", "\x1b", {KEY_ESCAPE}},
    {"broken_csi", "\x1b[1\x01", {KEY_NONE, 1}},
};
INSTANTIATE_TEST_SUITE_P(Keys, KeyTable, ::testing::ValuesIn(kKeys),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Keys, ALoneEscapeIsToldFromASequenceByThePause) {
    ScriptedBytes in(std::vector<int>{0x1b, PAUSE, '[', 'A'});
    EXPECT_EQ(read_key(in), KEY_ESCAPE);
    EXPECT_EQ(read_key(in), '[');
    EXPECT_EQ(read_key(in), 'A');
}

TEST(Keys, EndOfInputIsFinal) {
    ScriptedBytes in(std::string(""));
    EXPECT_EQ(read_key(in), KEY_END_OF_INPUT);
    EXPECT_EQ(read_key(in), KEY_END_OF_INPUT);
}

TEST(Keys, SizeChangeStopsTheWait) {
    struct Waking : ByteInput {
        int next_byte(int) override { return BYTE_WAKE; }
        void unread(u8) override {}
    } in;
    EXPECT_EQ(read_key(in), KEY_RESIZE);
}

// ---- lines of pipes and files -----------------------------------------------------------------

TEST(PipeLines, LineFeedEndsALineAndACarriageReturnStays) {
    ScriptedBytes in(std::string("abc\r\ndef\n\nlast"));
    std::u32string line;
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"abc\r");
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"def");
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"");
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"last");
    // The end: nothing more, at once, every time.
    EXPECT_FALSE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"");
    EXPECT_FALSE(read_line_utf8(in, line));
}

TEST(PipeLines, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    ScriptedBytes in(std::string("a\xff" "b\xc3\n\xe2\x82\xac\n"));
    std::u32string line;
    ASSERT_TRUE(read_line_utf8(in, line));
    // The cut sequence before the LF does not swallow the LF.
    EXPECT_EQ(line, U"a\uFFFDb\uFFFD");
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"\u20AC");
}

TEST(PipeLines, EscapeAndControlCharactersAreText) {
    ScriptedBytes in(std::string("[1\x1b\t\n"));
    std::u32string line;
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"[1\x1b\t");
}

// ---- history -------------------------------------------------------------------------------------

struct HistoryCase {
    std::u32string line;
    bool hidden;
    bool has_newest;
    std::u32string newest;
    bool takes;
};

TEST(History, WhatAnEnteredLineAdds) {
    const HistoryCase cases[] = {
        {U"abc", false, false, U"", true},
        {U"abc", false, true, U"xyz", true},
        {U"abc", false, true, U"abc", false},   // the same line twice: once
        {U"abc", false, true, U"ABC", true},    // compared case-sensitively
        {U"abc", true, false, U"", false},     // hidden lines never
        {U"", false, false, U"", false},       // empty lines never
    };
    for (const HistoryCase& c : cases)
        EXPECT_EQ(history_takes(c.line, c.hidden, c.has_newest, c.newest), c.takes);
}

}  // namespace
}  // namespace zan::console
