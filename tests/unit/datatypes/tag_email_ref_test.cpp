// tag!, email! and ref!: their text forms, the email! accessors and the
// string! actions they share.
#include "dt_test_support.h"
#include "runtime/datatypes/text_types.h"

namespace zan::test {
namespace {

class TextTypesTest : public DtTest {
protected:
    static ValueCell as(const std::string& t, u32 type) {
        ValueCell c = *str(t);
        cell_set_type(&c, type);
        return c;
    }
    static ValueCell* path(const ValueCell& base, const ValueCell& key, const ValueCell* set) {
        ValueCell b = base, k = key;
        ValueCell* held = stack_push(&b);
        ValueCell* kc = stack_push(&k);
        ValueCell* v = nullptr;
        if (set) v = stack_push(set);
        return action_eval_path_dispatch(held, kc, v, nullptr, nullptr, nullptr, -1, false, false,
                                         true, false);
    }
    static ValueCell at1(ValueCell v) {
        series_set_index(&v, 1);
        return v;
    }
};

TEST_F(TextTypesTest, FormsAndMolds) {
    struct Case {
        u32 type;
        const char* text;
        const char* formed;
        const char* molded;
    } const cases[] = {
        {TYPE_TAG, "a b", "<a b>", "<a b>"},
        {TYPE_TAG, "", "<>", "<>"},
        {TYPE_TAG, "p \"x\"", "<p \"x\">", "<p \"x\">"},  // no escaping
        {TYPE_EMAIL, "joe@example.com", "joe@example.com", "joe@example.com"},
        {TYPE_EMAIL, "a\"b@c", "a\"b@c", "a\"b@c"},
        {TYPE_REF, "abc", "abc", "@abc"},
        {TYPE_REF, "\u00E9", "\u00E9", "@\u00E9"},
    };
    for (const Case& c : cases) {
        ValueCell v = as(c.text, c.type);
        EXPECT_EQ(form(v), c.formed);
        EXPECT_EQ(mold(v), c.molded);
    }
    // /part counts the delimiters.
    ValueCell r = call({as("abcd", TYPE_TAG), integer(3)}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "<ab");
    r = call({as("abcd", TYPE_REF), integer(2)}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "@a");
    // Inside a block.
    EXPECT_EQ(mold(*blk({as("b", TYPE_TAG), as("r", TYPE_REF), as("x@y", TYPE_EMAIL)})),
              "[<b> @r x@y]");
}

TEST_F(TextTypesTest, EmailUserAndHost) {
    ValueCell e = as("joe@example.com", TYPE_EMAIL);
    ValueCell* user = path(e, word("user"), nullptr);
    EXPECT_EQ(user->type(), static_cast<u32>(TYPE_STRING));
    EXPECT_EQ(text(user), "joe");
    ValueCell* host = path(e, word("host"), nullptr);
    EXPECT_EQ(host->type(), static_cast<u32>(TYPE_STRING));
    EXPECT_EQ(text(host), "example.com");
    // The copies are new strings.
    EXPECT_NE(host->data2, e.data2);
    // Without "@" the user is everything and the host empty.
    ValueCell plain = as("nobody", TYPE_EMAIL);
    EXPECT_EQ(text(path(plain, word("user"), nullptr)), "nobody");
    EXPECT_EQ(text(path(plain, word("host"), nullptr)), "");
    // Setting changes the address in place.
    ValueCell h = *str("zan.org");
    path(e, word("host"), &h);
    EXPECT_EQ(text(&e), "joe@zan.org");
    ValueCell u = *str("ann.lee");
    path(e, word("user"), &u);
    EXPECT_EQ(text(&e), "ann.lee@zan.org");
    EXPECT_EQ(e.type(), static_cast<u32>(TYPE_EMAIL));
    // Integer keys pick and poke as on a string.
    ValueCell* c = path(e, integer(1), nullptr);
    ASSERT_EQ(c->type(), static_cast<u32>(TYPE_CHAR));
    EXPECT_EQ(dt::char_get(c), static_cast<u32>('a'));
    ValueCell b = chr('B');
    path(e, integer(1), &b);
    EXPECT_EQ(text(&e), "Bnn.lee@zan.org");
    // Any other key.
    EXPECT_EQ(error_of([&] { path(e, word("domain"), nullptr); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path(e, *str("user"), nullptr); }), Err::script_invalid_path);
}

TEST_F(TextTypesTest, StringActionsTheyShare) {
    // A tag appended to a string brings its brackets.
    ValueCell* s = str("a");
    call({*s, as("b", TYPE_TAG)}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(text(s), "a<b>");
    for (u32 type : {static_cast<u32>(TYPE_TAG), static_cast<u32>(TYPE_EMAIL),
                     static_cast<u32>(TYPE_REF)}) {
        SCOPED_TRACE(type);
        ValueCell v = as("abc", type);
        EXPECT_EQ(action_length_q_dispatch(&v), 3);
        ValueCell* copy = action_copy_dispatch(&v, nullptr, nullptr, false, nullptr);
        EXPECT_EQ(copy->type(), type);
        ValueCell key = chr('b');
        ValueCell* found = action_find_dispatch(&v, &key, nullptr, false, false, false, false,
                                                nullptr, nullptr, false, false, false, false);
        EXPECT_EQ(series_index(found), 1);
        call({at1(v), *str("XY")}, [] { action_insert(-1, -1, -1); });
        EXPECT_EQ(text(&v), "aXYbc");
        ValueCell* same = str("AXYBC");
        EXPECT_TRUE(action_compare(&v, same, CMP_EQUAL));
        EXPECT_FALSE(have(type, ACT_SORT));
        EXPECT_FALSE(have(type, ACT_PUT));
        ValueCell proto;
        datatype_box(&proto, type);
        ValueCell* made = action_to_dispatch(&proto, blk({word("x"), integer(1)}));
        EXPECT_EQ(made->type(), type);
        EXPECT_EQ(text(made), "x1");
    }
    EXPECT_TRUE(have(TYPE_TAG, ACT_APPEND));
    EXPECT_TRUE(have(TYPE_EMAIL, ACT_APPEND));
    EXPECT_FALSE(have(TYPE_REF, ACT_APPEND));
    EXPECT_FALSE(have(TYPE_REF, ACT_EVAL_PATH));
    EXPECT_FALSE(have(TYPE_REF, ACT_TRIM));
    // Tags and emails trim as strings do.
    ValueCell t = as("  a  ", TYPE_TAG);
    call({t}, [] { action_trim(-1, -1, -1, -1, -1, -1); });
    EXPECT_EQ(text(&t), "a");
}

}  // namespace
}  // namespace zan::test
