// Math natives and the numeric routines behind them.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesMathTest : public EvalTest {};

TEST_F(NativesMathTest, SignTests) {
    expect_cases({
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"positive? 1", "true"},
        {"positive? 0", "false"},
        {"negative? -0.5", "true"},
        {"positive? 10%", "true"},
        {"negative? -0:00:01", "true"},
        {"positive? -$1", "false"},
        {"negative? -$1", "true"},
        {"positive? $0.01", "true"},
        {"x: square-root -1 negative? x", "false"},
        {"x: square-root -1 positive? x", "false"},
        {"sign? -5", "-1"},
        {"sign? 0", "0"},
        {"sign? 7", "1"},
        {"sign? -0.0", "0"},
        {"sign? 2.5", "1"},
        {"sign? -1:00", "-1"},
        {"sign? -$3", "-1"},
        {"sign? $0", "0"},
        {"x: square-root -1 sign? x", "0"},
    });
}

TEST_F(NativesMathTest, MaxAndMin) {
    expect_cases({
        {"max 1 2", "2"},
        {"min 1 2", "1"},
        {"max 1.5 2", "2"},
        {"min 1.5 2", "1.5"},
        {"max \"abc\" \"abd\"", "\"abd\""},
        {"max 1x5 3", "3x5"},
        {"min 2 1x5", "1x2"},
        {"max 1x2 2x1", "2x2"},
        {"min 1x2 2x1", "1x1"},
        {"max 2.9 1x5", "2x5"},
        {"max (1, 2) (2, 1)", "(2, 2)"},
        {"min (1, 2, 3) 2", "(1, 2, 2)"},
        {"max 1 (2, 0.5)", "(2, 1)"},
        {"max 1.2.3 2", "2.2.3"},
        {"min 1.2.3 2", "1.2.2"},
        {"max 1.2.3 1.5.0.7", "1.5.3.7"},
        // A NaN against a number wins, whichever side it is on.
        {"x: square-root -1 max 1 x", "1.#NaN"},
        {"x: square-root -1 min x 1", "1.#NaN"},
        {"x: square-root -1 max x 1", "1.#NaN"},
    });
    EXPECT_EQ(eval_error_id("max 1 \"a\""), "script/invalid-compare");
    EXPECT_EQ(eval_error_id("max 1x1 1e20"), "script/type-limit");
}

TEST_F(NativesMathTest, Shift) {
    expect_cases({
        {"shift 16 2", "4"},
        {"shift -8 1", "-4"},
        {"shift -8 40", "-1"},
        {"shift 8 40", "0"},
        {"shift 8 -3", "8"},
        {"shift/logical -8 1", "2147483644"},
        {"shift/logical -8 32", "0"},
        {"shift/left 1 4", "16"},
        {"shift/left 1 31", "-2147483648"},
        {"shift/left 1 32", "0"},
        {"shift/left/logical 1 4", "16"},
    });
}

TEST_F(NativesMathTest, ToHex) {
    expect_cases({
        {"to-hex 255", "#000000FF"},
        {"to-hex -1", "#FFFFFFFF"},
        {"to-hex/size 255 2", "#FF"},
        {"to-hex/size 255 3", "#0FF"},
        {"to-hex/size 255 20", "#000000FF"},
    });
    EXPECT_EQ(eval_error_id("to-hex/size 255 0"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("to-hex/size 255 -2"), "script/invalid-arg");
}

TEST_F(NativesMathTest, Trigonometry) {
    expect_cases({
        {"sine 0", "0.0"},
        {"sine 90", "1.0"},
        {"sine 180", "0.0"},
        {"sine 360", "0.0"},
        {"(sine 270) = sine -90", "true"},
        {"sine -90", "-1.0"},
        {"(sine 150) = sine 30", "true"},
        {"cosine 0", "1.0"},
        {"cosine 90", "0.0"},
        {"cosine 180", "-1.0"},
        {"cosine 270", "0.0"},
        {"tangent 0", "0.0"},
        {"tangent 90", "1.#INF"},
        {"tangent -90", "-1.#INF"},
        {"(tangent 45) = tangent 225", "true"},
        {"sine/radians 0", "0.0"},
        {"cosine/radians 0", "1.0"},
        {"arcsine 1", "90.0"},
        {"arcsine/radians 1", "1.5707963267948966"},
        {"arccosine 1", "0.0"},
        {"arccosine -1", "180.0"},
        {"arctangent 1", "45.0"},
        {"arctangent/radians 1", "0.7853981633974483"},
        {"arctangent2 1 1", "45.0"},
        {"arctangent2 1 -1", "135.0"},
        {"arctangent2/radians 0 -1", "3.141592653589793"},
        {"NaN? arcsine 2", "true"},
    });
}

TEST_F(NativesMathTest, LogarithmsAndPowers) {
    expect_cases({
        {"log-2 8", "3.0"},
        {"log-2 1024.0", "10.0"},
        {"log-10 1000", "3.0"},
        {"log-e 1", "0.0"},
        {"exp 0", "1.0"},
        {"exp 1", "2.718281828459045"},
        {"square-root 16", "4.0"},
        {"square-root 2.25", "1.5"},
        {"square-root 400%", "2.0"},
        {"log-e 0", "-1.#INF"},
        {"NaN? square-root -1", "true"},
    });
}

TEST_F(NativesMathTest, NanAndZero) {
    expect_cases({
        {"NaN? 1", "false"},
        {"NaN? 1.5", "false"},
        {"x: square-root -1 NaN? x", "true"},
        {"zero? 0", "true"},
        {"zero? 1", "false"},
        {"zero? 0.0", "true"},
        {"zero? -0.0", "true"},
        {"zero? 0%", "true"},
        {"zero? 0:00", "true"},
        {"zero? 0:01", "false"},
        {"zero? #\"^@\"", "true"},
        {"zero? #\"a\"", "false"},
        {"zero? 0x0", "true"},
        {"zero? 0x1", "false"},
        {"zero? (0, 0)", "true"},
        {"zero? (0, 0, 1)", "false"},
        {"zero? 0.0.0", "true"},
        {"zero? 0.0.1", "false"},
        {"zero? $0", "true"},
        {"zero? -$0.00001", "false"},
    });
}

}  // namespace
}  // namespace zan::evaltest
