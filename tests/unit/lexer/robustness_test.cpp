// Arbitrary text: every run ends with values, error!, or a raised syntax
// error, never out of bounds, and the run list is always left empty.
#include <cstring>

#include "lexer_test_support.h"

namespace zan::test {
namespace {

// Text made of the characters that matter to the lexer, with some bytes
// beyond ASCII.
std::string random_text(u32* seed, size_t n) {
    static const char alphabet[] =
        "[](){}\"#':;/\\<>=%,@.$+-^ \t\n\r0123456789abcdefxXThEeFz_!~&*?|`"
        "\x01\x7F\x80\xC2\xA0\xC3\xA9\xE2\x80\x83\xF0\x9F\x98\x80\xC0\xFF";
    std::string s;
    for (size_t k = 0; k < n; k++) {
        *seed = *seed * 1103515245u + 12345u;
        s.push_back(alphabet[(*seed >> 16) % (sizeof alphabet - 1)]);
    }
    return s;
}

TEST_F(LexerTest, ArbitraryTextNeverBreaksARun) {
    u32 seed = 12345;
    for (int round = 0; round < 4000; round++) {
        std::string src = random_text(&seed, 1 + round % 48);
        const u8* text = reinterpret_cast<const u8*>(src.data());
        u32 n = static_cast<u32>(src.size());
        for (int mode = 0; mode < 3; mode++) {
            ValueCell* top = g_stack.top;
            CallFrame* ctop = g_stack.ctop;
            ValueCell* base = g_stack.base;
            ValueCell* out = none_push();
            i32 consumed = -1;
            try {
                lexer_transcode(out, text, n, mode != 0, mode != 1, mode != 2, 0, &consumed,
                                nullptr, nullptr, nullptr);
                EXPECT_GE(consumed, 0) << src;
                EXPECT_LE(consumed, static_cast<i32>(n)) << src;
            } catch (const ThrowSignal& s) {
                EXPECT_EQ(s.code, THROW_ERROR);
                u32 cat = err_category(g_raw_error);
                EXPECT_TRUE(cat == ERRCAT_syntax || g_raw_error == Err::internal_not_done)
                    << "mode " << mode << " " << src << " raised " << err_id_name(g_raw_error);
            }
            g_stack.top = top;
            g_stack.ctop = ctop;
            g_stack.base = base;
            ASSERT_EQ(g_lexer_runs, nullptr);
        }
    }
}

TEST_F(LexerTest, EveryPrefixOfARealTextLoadsOrRaises) {
    std::string src =
        "Zan [title: \"demo\"]\nitems: [1 2.5 50% $3 1.2.3 10x20 (1, 2) <b> %f.txt a@b.c\n"
        "  http://x.y/z #\"c\" #iss /ref 'lit :get set: a/b/(c)/d: {br {ac} es} %{raw}% 1:30\n"
        "  1-Jan-2024/10:00 #(int) ; comment\n]\n";
    int loaded = 0;
    for (size_t n = 0; n <= src.size(); n++) {
        ValueCell* top = g_stack.top;
        CallFrame* ctop = g_stack.ctop;
        ValueCell* base = g_stack.base;
        ValueCell* out = none_push();
        try {
            lexer_transcode(out, reinterpret_cast<const u8*>(src.data()), static_cast<u32>(n),
                            false, true, true, 0, nullptr, nullptr, nullptr, nullptr);
            loaded++;
        } catch (const ThrowSignal&) {
            EXPECT_EQ(err_category(g_raw_error), static_cast<u32>(ERRCAT_syntax)) << n;
        }
        g_stack.top = top;
        g_stack.ctop = ctop;
        g_stack.base = base;
    }
    EXPECT_GT(loaded, 2);
    // The whole text loads.
    std::string all = render(load_cell(src));
    EXPECT_EQ(all,
              "[Zan [title: \"demo\"] ~items: [1 2.5 pct(0.5) $3.00 1.2.3 10x20 (1, 2) <b> "
              "%\"f.txt\" email\"a@b.c\" ~url\"http://x.y/z\" #\"c\" #iss /ref 'lit :get set: "
              "a/b/(c)/d: \"br {ac} es\" \"raw\" time(5400.0) ~1-Jan-2024/10:00:00 integer!]]");
}

}  // namespace
}  // namespace zan::test
