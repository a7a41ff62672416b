// trim on text of every unit width: the default trim, /head, /tail,
// /lines, /all and /with (string, char, integer), /auto.
#include "search_test_support.h"

namespace zan::test {
namespace {

class StringTrimTest : public SearchTest {};

enum Mode { DEFAULT, HEAD, TAIL, HEAD_TAIL, LINES, ALL };

struct TrimCase {
    const char* text;
    Mode mode;
    const char* want;
};

const TrimCase kTrim[] = {
    {" a \n ", DEFAULT, "a\n"},
    {" a \n ", TAIL, " a"},
    {" a \n ", HEAD, "a \n "},
    {" a \n ", HEAD_TAIL, "a"},
    {"  a  \n  b  ", DEFAULT, "a\nb"},
    {"a \r\n b", DEFAULT, "a \r\nb"},         // CR is not a blank
    {"x\t\u00A0\n\u2003y", DEFAULT, "x\ny"},  // Unicode blanks around the line feed
    {"a  b\n\nc", DEFAULT, "a  b\n\nc"},      // blanks inside a line stay
    {"\n\na b\n\n", DEFAULT, "a b\n"},
    {"\u3000a\u2003", DEFAULT, "a"},
    {"\u3000a\u2003", HEAD, "a\u2003"},
    {"  \n  ", DEFAULT, ""},
    {"", DEFAULT, ""},
    {"abc", DEFAULT, "abc"},
    {"  a \n\t b  c ", LINES, "a b c"},
    {"a\u00A0\u00A0b", LINES, "a b"},
    {"   ", LINES, ""},
    {" a\tb\nc\rd ", ALL, "abcd"},
    {"\u00A0a b", ALL, "\u00A0ab"},  // /all only takes tab, LF, CR and space
};

TEST_F(StringTrimTest, TrimTableInEveryUnitWidth) {
    for (u32 unit : {1u, 2u, 4u}) {
        for (const TrimCase& c : kTrim) {
            std::string src = c.text;
            SCOPED_TRACE("[" + src + "] unit " + std::to_string(unit));
            ValueCell* s = S(src, unit);
            u32 before = unit_of(s);
            switch (c.mode) {
                case DEFAULT: trim(s); break;
                case HEAD: trim(s, true); break;
                case TAIL: trim(s, false, true); break;
                case HEAD_TAIL: trim(s, true, true); break;
                case LINES: trim(s, false, false, true); break;
                case ALL: trim(s, false, false, false, true); break;
            }
            EXPECT_EQ(text(s), c.want);
            EXPECT_EQ(unit_of(s), before);
        }
    }
}

TEST_F(StringTrimTest, NulIsNotWhiteSpace) {
    ValueCell* s = S(std::string("\0a \0", 4));
    trim(s);
    EXPECT_EQ(text(s), std::string("\0a \0", 4));
}

TEST_F(StringTrimTest, WithRemovesEveryMemberOfTheSet) {
    for (u32 unit : {1u, 2u, 4u}) {
        SCOPED_TRACE(unit);
        ValueCell* s = S("a-b_c-", unit);
        ValueCell* set = S("_-");
        trim(s, false, false, false, false, set);
        EXPECT_EQ(text(s), "abc");
        ValueCell* t = S("banana", unit);
        ValueCell ch = chr('a');
        trim(t, false, false, false, false, &ch);
        EXPECT_EQ(text(t), "bnn");
        ValueCell code = integer('n');
        trim(t, false, false, false, false, &code);
        EXPECT_EQ(text(t), "b");
        // A long set (searched sorted) and a set wider than the text.
        ValueCell* u = S("the quick brown fox", unit);
        ValueCell* many = S("aeiouqwxyz€ ");
        trim(u, false, false, false, false, many);
        EXPECT_EQ(text(u), "thckbrnf");
    }
}

TEST_F(StringTrimTest, WithIsCaseSensitiveAndStartsAtTheSetsIndex) {
    ValueCell* s = S("aAbB");
    ValueCell* set = S("xa");
    series_set_index(set, 1);
    trim(s, false, false, false, false, set);
    EXPECT_EQ(text(s), "AbB");
}

TEST_F(StringTrimTest, TrimsFromTheIndexOnly) {
    ValueCell* s = S("  a  b  ");
    series_set_index(s, 3);
    trim(s);
    series_set_index(s, 0);
    EXPECT_EQ(text(s), "  ab");
    ValueCell* t = S(" x y ");
    series_set_index(t, 2);
    trim(t, false, false, false, true);
    series_set_index(t, 0);
    EXPECT_EQ(text(t), " xy");
}

TEST_F(StringTrimTest, ResultIsTheSeriesAndAutoIsNotDone) {
    ValueCell* s = S("  q ");
    stack_mark_native(g_words.n.body);
    ValueCell* arg = stack_push(s);
    string_trim(arg, false, false, false, false, false, nullptr);
    EXPECT_EQ(stack_result()->data2, s->data2);
    stack_unwind();
    stack_pop(1);
    EXPECT_EQ(text(s), "q");
    EXPECT_EQ(error_of([&] { trim(s, false, false, false, false, nullptr, true); }),
              Err::internal_not_done);
    ValueCell* blk1 = B("a");
    EXPECT_EQ(error_of([&] { trim(s, false, false, false, false, blk1); }),
              Err::script_invalid_arg);
}

TEST_F(StringTrimTest, TrimAnnouncesToTheOwner) {
    ValueCell* s = S(" a ");
    AnnounceRecorder rec(s);
    trim(s);
    EXPECT_EQ(announced(), (std::vector<std::string>{"trim", "trimmed"}));
    EXPECT_EQ(text(s), "a");
}

TEST_F(StringTrimTest, WhiteSpaceAndBlankSets) {
    for (u32 cp : {1u, 9u, 10u, 13u, 32u, 0x85u, 0xA0u, 0x1680u, 0x180Eu, 0x2000u, 0x200Au, 0x2028u,
                   0x2029u, 0x202Fu, 0x205Fu, 0x3000u})
        EXPECT_TRUE(string_white_space_q(cp)) << cp;
    for (u32 cp : {0u, 33u, 0x84u, 0x200Bu, 0x3001u})
        EXPECT_FALSE(string_white_space_q(cp)) << cp;
    EXPECT_TRUE(string_blank_q(' '));
    EXPECT_TRUE(string_blank_q('\t'));
    EXPECT_TRUE(string_blank_q(0x3000));
    EXPECT_FALSE(string_blank_q('\r'));
    EXPECT_FALSE(string_blank_q('\n'));
}

}  // namespace
}  // namespace zan::test
