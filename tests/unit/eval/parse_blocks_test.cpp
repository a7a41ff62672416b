// parse on block input: words and paths matched literally, nested series
// entered with into, and the other block types as input.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ParseBlocksTest : public EvalTest {};

TEST_F(ParseBlocksTest, Literals) {
    expect_cases({
        {"parse [a b c] ['a 'b 'c]", "true"},
        {"parse [a b] ['a 'c]", "false"},
        // An integer in the rules is a count, not a literal.
        {"parse [1 \"x\"] [1 \"x\"]", "false"},
        {"parse [1 \"x\"] [quote 1 \"x\"]", "true"},
        {"parse [\"x\" #\"c\" 2.5] [\"x\" #\"c\" 2.5]", "true"},
        {"parse [a/b] ['a/b]", "true"},
        {"parse [a/b c] ['a/b 'c]", "true"},
        {"w: 'c parse [c] [quote c]", "true"},
        {"parse [x: 1] [quote x: quote 1]", "true"},
        // A word value held by a word is a literal after a command.
        {"w: 'c parse [c c] [some w]", "true"},
        {"w: 'c parse [c d] [some w]", "false"},
        {"w: 'c parse [c c d] [2 w 'd]", "true"},
    });
}

TEST_F(ParseBlocksTest, Into) {
    expect_cases({
        {"parse [[1 2] 3] [into [some integer!] integer!]", "true"},
        {"parse [[1 2]] [into [integer!]]", "false"},
        {"parse [[1 2]] [into [integer!] | block!]", "true"},
        {"parse [[\"a\" \"b\"]] [into [\"a\"]]", "false"},
        {"parse [[a [b [c]]]] [into ['a into ['b into ['c]]]]", "true"},
        {"parse [\"abc\" x] [into [\"abc\"] 'x]", "true"},
        {"parse [\"abc\"] [into [some [\"a\" | \"b\" | \"c\"]]]", "true"},
        {"parse [#{0102}] [into [#{01} skip]]", "true"},
        {"r: [some integer!] parse [[1 2]] [into r]", "true"},
        {"parse [1] [into [integer!]]", "false"},
        {"parse [] [into [integer!]]", "false"},
        {"parse [[1] x] [into [integer!] 'x]", "true"},
        {"parse [1 [2] 3] [integer! into [integer!] integer! end]", "true"},
        {"parse [(1 2)] [into [2 integer!]]", "true"},
        {"parse [[1 2]] [into [integer! x: integer!]] x", "[2]"},
        // Collected values and copies come from the nested series.
        {"parse [[1 2] 3] [collect [into [keep skip skip] keep skip]]", "[1 3]"},
        {"parse [[1 2]] [into [copy x to end]] x", "[1 2]"},
    });
}

TEST_F(ParseBlocksTest, InputTypes) {
    expect_cases({
        {"parse to hash! [1 2] [2 integer!]", "true"},
        {"parse to paren! [1 2] [2 integer!]", "true"},
        {"parse 'a/b/c [3 word!]", "true"},
        {"parse next [x 1 2] [2 integer!]", "true"},
        {"parse tail [x] []", "true"},
        {"s: [1 2 3] parse s [integer! remove integer! integer!] s", "[1 3]"},
    });
}

}  // namespace
}  // namespace zan::evaltest
