// Terminal bytes into keys, mouse reports and cursor position reports,
// including items split across reads.
#include <gtest/gtest.h>

#include "runtime/terminal/terminal_keys.h"
#include "gui/terminal/tui_input.h"
#include "runtime/datatypes/event.h"

using namespace zan;
using namespace zan::gui;

namespace {
std::string describe(const TuiInput& in) {
    char buf[96];
    switch (in.kind) {
        case TuiInput::KEY:
            std::snprintf(buf, sizeof buf, "key %X %d %X", in.ch, in.code, in.flags);
            break;
        case TuiInput::MOUSE:
            std::snprintf(buf, sizeof buf, "mouse %d%s%s %d,%d %X", in.button, in.release ? " release" : "",
                          in.motion ? " motion" : "", in.col, in.row, in.flags);
            break;
        case TuiInput::CURSOR_REPORT: std::snprintf(buf, sizeof buf, "cursor %d,%d", in.row, in.col); break;
    }
    return buf;
}

std::vector<std::string> decode(TuiInputDecoder& d, const std::string& bytes) {
    d.feed(bytes);
    std::vector<std::string> out;
    for (const TuiInput& in : d.decode()) out.push_back(describe(in));
    return out;
}

std::vector<std::string> decode(const std::string& bytes) {
    TuiInputDecoder d;
    return decode(d, bytes);
}

std::string special(i32 code, u32 flags = 0) {
    TuiInput k;
    k.code = code;
    k.flags = EVENT_SPECIAL_KEY | flags;
    return describe(k);
}
std::string key(u32 ch, u32 flags = 0) {
    TuiInput k;
    k.ch = ch;
    k.flags = flags;
    return describe(k);
}
using V = std::vector<std::string>;
}  // namespace

TEST(TuiInput, CharactersAndControlKeys) {
    struct Case {
        std::string bytes;
        V keys;
    } cases[] = {
        {"a", {key('a')}},
        {"\xC3\xA9\xF0\x9F\x98\x80", {key(0xE9), key(0x1F600)}},
        {"\x08\x7F", {key(0x7F), key(0x7F)}},  // both Backspaces
        {"\r\n", {key(0x0D), key(0x0D)}},
        {"\t\x01", {key(9), key(1)}},
        {"\x1b", {key(0x1B)}},  // a lone Escape
        {"\x1b\x1b[A", {key(0x1B), special(console::KEY_UP)}},
        {"\xFFx", {key(0xFFFD), key('x')}},
        {"\xC3(", {key(0xFFFD), key('(')}},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.bytes), c.keys);
}

TEST(TuiInput, SpecialKeysInTheirCommonForms) {
    struct Case {
        const char* bytes;
        i32 code;
        u32 flags;
    } cases[] = {
        {"\x1b[A", console::KEY_UP, 0},          {"\x1bOA", console::KEY_UP, 0},
        {"\x1b[B", console::KEY_DOWN, 0},        {"\x1b[C", console::KEY_RIGHT, 0},
        {"\x1bOD", console::KEY_LEFT, 0},        {"\x1b[H", console::KEY_HOME, 0},
        {"\x1b[1~", console::KEY_HOME, 0},       {"\x1b[7~", console::KEY_HOME, 0},
        {"\x1b[F", console::KEY_END, 0},         {"\x1b[4~", console::KEY_END, 0},
        {"\x1b[2~", console::KEY_INSERT, 0},     {"\x1b[3~", console::KEY_DELETE, 0},
        {"\x1b[5~", console::KEY_PAGE_UP, 0},    {"\x1b[6~", console::KEY_PAGE_DOWN, 0},
        {"\x1bOP", -31, 0},                      {"\x1bOS", -34, 0},
        {"\x1b[15~", -35, 0},                    {"\x1b[19~", -38, 0},
        {"\x1b[20~", -39, 0},                    {"\x1b[24~", -42, 0},
        {"\x1b[1;5A", console::KEY_UP, EVENT_FLAG_CONTROL},
        {"\x1b[1;2D", console::KEY_LEFT, EVENT_FLAG_SHIFT},
        {"\x1b[3;3~", console::KEY_DELETE, EVENT_FLAG_ALT},
        {"\x1b[1;8H", console::KEY_HOME, EVENT_FLAG_CONTROL | EVENT_FLAG_SHIFT | EVENT_FLAG_ALT},
        {"\x1b[1;2P", -31, EVENT_FLAG_SHIFT},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.bytes), V{special(c.code, c.flags)}) << c.bytes + 1;
    EXPECT_EQ(decode("\x1b[Z"), V{key(9, EVENT_FLAG_SHIFT)});  // back-tab
}

TEST(TuiInput, UnknownSequencesAndStringsAreDropped) {
    struct Case {
        std::string bytes;
        V keys;
    } cases[] = {
        {"\x1b[99~x", {key('x')}},
        {"\x1b[?1;2cx", {key('x')}},
        {"\x1b]0;title\x1b\\x", {key('x')}},
        {"\x1bP1$r\x1b\\x", {key('x')}},
        {"\x1b[[Ax", {key('x')}},
        {"\x1bx" "y", {key('y')}},             // Alt-x
        {"\x1b\xC3\xA9" "y", {key('y')}},      // Alt with a two-byte character
        {"\x1b[1\x1b[B", {special(console::KEY_DOWN)}},  // cut short by a new sequence
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.bytes), c.keys);
}

TEST(TuiInput, ItemsSplitAcrossReadsAreDecodedOnceComplete) {
    TuiInputDecoder d;
    EXPECT_EQ(decode(d, "a\xE2\x82"), V{key('a')});
    EXPECT_EQ(d.pending(), 2u);
    EXPECT_EQ(decode(d, "\xAC" "b"), (V{key(0x20AC), key('b')}));
    EXPECT_EQ(d.pending(), 0u);
    EXPECT_EQ(decode(d, "\x1b["), V{});
    EXPECT_EQ(decode(d, "1;5"), V{});
    EXPECT_EQ(decode(d, "C"), V{special(console::KEY_RIGHT, EVENT_FLAG_CONTROL)});
    EXPECT_EQ(decode(d, "\x1b]2;long"), V{});
    EXPECT_EQ(decode(d, " title\x1b\\z"), V{key('z')});
    EXPECT_EQ(decode(d, "\x1bO"), V{});
    EXPECT_EQ(decode(d, "Q"), V{special(-32)});
    EXPECT_EQ(decode(d, "\x1b[<0;5"), V{});
    EXPECT_EQ(decode(d, ";3M").size(), 1u);
    d.feed("\x1b[");
    d.clear();
    EXPECT_EQ(decode(d, "q"), V{key('q')});
}

TEST(TuiInput, MouseReportsInTheSgrForm) {
    TuiInput m;
    m.kind = TuiInput::MOUSE;
    auto mouse = [&](int button, bool release, bool motion, int col, int row, u32 flags) {
        m.button = button;
        m.release = release;
        m.motion = motion;
        m.col = col;
        m.row = row;
        m.flags = flags;
        return describe(m);
    };
    struct Case {
        const char* bytes;
        std::string expected;
    } cases[] = {
        {"\x1b[<0;5;3M", mouse(0, false, false, 5, 3, 0)},
        {"\x1b[<0;5;3m", mouse(0, true, false, 5, 3, 0)},
        {"\x1b[<1;10;2M", mouse(1, false, false, 10, 2, 0)},
        {"\x1b[<2;1;1m", mouse(2, true, false, 1, 1, 0)},
        {"\x1b[<35;7;8M", mouse(3, false, true, 7, 8, 0)},
        {"\x1b[<32;7;8M", mouse(0, false, true, 7, 8, 0)},
        {"\x1b[<64;2;2M", mouse(4, false, false, 2, 2, 0)},
        {"\x1b[<65;2;2M", mouse(5, false, false, 2, 2, 0)},
        {"\x1b[<28;120;40M", mouse(0, false, false, 120, 40, EVENT_FLAG_SHIFT | EVENT_FLAG_ALT | EVENT_FLAG_CONTROL)},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.bytes), V{c.expected}) << c.bytes + 1;
}

TEST(TuiInput, MouseReleaseInThe1015FormReleasesTheButtonPressedLast) {
    TuiInputDecoder d;
    V got = decode(d, "\x1b[34;4;2M" "\x1b[67;4;2M" "\x1b[35;4;2M" "\x1b[32;9;9M" "\x1b[35;9;9M");
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], "mouse 2 4,2 0");            // right press
    EXPECT_EQ(got[1], "mouse 3 motion 4,2 0");     // a move with no button
    EXPECT_EQ(got[2], "mouse 2 release 4,2 0");    // the right button's release, not a move
    EXPECT_EQ(got[3], "mouse 0 9,9 0");
    EXPECT_EQ(got[4], "mouse 0 release 9,9 0");
}

TEST(TuiInput, CursorPositionReport) {
    EXPECT_EQ(decode("\x1b[12;40R" "k"), (V{"cursor 12,40", key('k')}));
    EXPECT_EQ(decode("\x1b[7R"), V{});  // one parameter: no report, no key
}
