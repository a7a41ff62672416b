// dehex, enhex, enbase and debase.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesEncodingTest : public EvalTest {};

TEST_F(NativesEncodingTest, Enbase) {
    expect_cases({
        {"enbase \"hello\"", "\"aGVsbG8=\""},
        {"enbase/base \"hello\" 64", "\"aGVsbG8=\""},
        {"enbase/base \"hello\" 16", "\"68656C6C6F\""},
        {"enbase/base \"hello\" 2", "\"0110100001100101011011000110110001101111\""},
        {"enbase/base \"hello\" 58", "\"Cn8eVZg\""},
        {"enbase/base #{00FF} 16", "\"00FF\""},
        {"enbase/base #{0000FF} 58", "\"115Q\""},
        {"enbase next #{00FF10}", "\"/xA=\""},
        {"enbase #{FF}", "\"/w==\""},
        // A string is encoded as its UTF-8 bytes.
        {"enbase \"\u00e9\"", "\"w6k=\""},
        // An empty binary gives an empty string in every base.
        {"enbase/base #{} 64", "\"\""},
        {"enbase/base #{} 58", "\"\""},
        {"enbase/base #{} 16", "\"\""},
        {"enbase/base #{} 2", "\"\""},
    });
    EXPECT_EQ(eval_error_id("enbase/base \"a\" 8"), "script/invalid-arg");
    EXPECT_EQ(eval_error_line("enbase/base \"a\" 8"), "*** Script Error: invalid argument: 8");
}

TEST_F(NativesEncodingTest, Debase) {
    expect_cases({
        {"debase \"aGVsbG8=\"", "#{68656C6C6F}"},
        {"to string! debase \"aGVsbG8=\"", "\"hello\""},
        {"debase \"aGVs bG8=\"", "#{68656C6C6F}"},
        {"debase/base \"68656C6C6F\" 16", "#{68656C6C6F}"},
        {"debase/base \"68656c6c6f\" 16", "#{68656C6C6F}"},
        {"debase/base \"01100001\" 2", "#{61}"},
        {"debase/base \"Cn8eVZg\" 58", "#{68656C6C6F}"},
        {"debase/base \"\" 16", "#{}"},
        {"debase next \"xaGVsbG8=\"", "#{68656C6C6F}"},
        // Text that is not valid for the base gives none, not an error.
        {"debase \"@@@@\"", "none"},
        {"debase/base \"zz\" 16", "none"},
        {"debase/base \"012\" 2", "none"},
        {"debase/base \"0OIl\" 58", "none"},
    });
    EXPECT_EQ(eval_error_id("debase/base \"x\" 10"), "script/invalid-arg");
}

TEST_F(NativesEncodingTest, RoundTrips) {
    expect_cases({
        {"b: #{000102FEFF} b = debase enbase b", "true"},
        {"b: #{000102FEFF} b = debase/base enbase/base b 16 16", "true"},
        {"b: #{000102FEFF} b = debase/base enbase/base b 2 2", "true"},
        {"b: #{000002FEFF} b = debase/base enbase/base b 58 58", "true"},
    });
}

TEST_F(NativesEncodingTest, PercentEscapes) {
    expect_cases({
        {"dehex \"a%20b\"", "\"a b\""},
        {"dehex \"%C3%A9t%C3%A9\"", "\"\u00e9t\u00e9\""},
        {"dehex \"100%\"", "\"100%\""},
        {"dehex \"%zz\"", "\"%zz\""},
        {"dehex next \"xa%20b\"", "\"a b\""},
        {"dehex to file! \"a%20b\"", "\"a b\""},
        {"type? dehex %a", "string!"},
        {"enhex \"a b\"", "\"a%20b\""},
        {"enhex \"\u00e9t\u00e9\"", "\"%C3%A9t%C3%A9\""},
        {"enhex next \"xa b\"", "\"a%20b\""},
        // A string! keeps only the unreserved characters; other text types
        // also keep the file-safe ones such as "/".
        {"enhex \"a-b_c.d~e/f\"", "\"a-b_c.d~e%2Ff\""},
        {"enhex %\"a b/c\"", "\"a%20b/c\""},
        {"s: \"a/b \u00e9\" s = dehex enhex s", "true"},
    });
}

}  // namespace
}  // namespace zan::evaltest
