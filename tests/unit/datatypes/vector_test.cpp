// vector!: making from every spec, element types and sizes, text forms,
// arithmetic with scalars and vectors, comparison, modification and the
// series actions it takes from string! and series!.
#include <cmath>

#include "dt_test_support.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/vector.h"

namespace zan::test {
namespace {

class VectorTest : public DtTest {
protected:
    static ValueCell F(double d) {
        ValueCell c;
        float_make_at(&c, d);
        return c;
    }
    static ValueCell P(double d) {
        ValueCell c;
        percent_make_at(&c, d);
        return c;
    }
    static ValueCell W(const char* name) { return word(name); }
    static ValueCell* make(const ValueCell& spec) {
        ValueCell proto;
        datatype_box(&proto, TYPE_VECTOR);
        ValueCell s = spec;
        return action_make_dispatch(&proto, &s);
    }
    static ValueCell* vec(std::initializer_list<ValueCell> values) { return make(*blk(values)); }
    // The elements from the head, formed.
    static std::string elements(const ValueCell* v) { return form(*v); }
    static ValueCell at(ValueCell s, i32 index) {
        series_set_index(&s, index);
        return s;
    }
    template <class Entry>
    static ValueCell math(const ValueCell& a, const ValueCell& b, Entry entry) {
        return call({a, b}, entry);
    }
};

TEST_F(VectorTest, MakeFromEverySpec) {
    struct Case {
        ValueCell spec;
        u32 type;
        u32 size;
        const char* molded;
    } const cases[] = {
        {*blk({integer(1), integer(2), integer(3)}), TYPE_INTEGER, 4, "make vector! [1 2 3]"},
        {*blk({W("integer!"), integer(8), *blk({integer(1), integer(2)})}), TYPE_INTEGER, 1,
         "make vector! [integer! 8 [1 2]]"},
        {*blk({W("integer!"), integer(16), integer(3)}), TYPE_INTEGER, 2,
         "make vector! [integer! 16 [0 0 0]]"},
        {*blk({W("integer!"), integer(32), integer(2)}), TYPE_INTEGER, 4, "make vector! [0 0]"},
        {integer(3), TYPE_INTEGER, 4, "make vector! [0 0 0]"},
        {integer(-2), TYPE_INTEGER, 4, "make vector! [integer! 32 []]"},
        {F(2.9), TYPE_FLOAT, 4, "make vector! [float! 32 [0.0 0.0]]"},
        {*blk({W("float!"), integer(64), *blk({F(1.5), F(-2.0)})}), TYPE_FLOAT, 8,
         "make vector! [1.5 -2.0]"},
        {*blk({W("float!"), integer(32), *blk({F(1.5)})}), TYPE_FLOAT, 4,
         "make vector! [float! 32 [1.5]]"},
        {*blk({F(0.25)}), TYPE_FLOAT, 8, "make vector! [0.25]"},
        {*blk({chr('a'), chr('\n')}), TYPE_CHAR, 4, "make vector! [#\"a\" #\"^/\"]"},
        {*blk({W("char!"), integer(8), *blk({chr('a')})}), TYPE_CHAR, 1,
         "make vector! [char! 8 [#\"a\"]]"},
        {*blk({W("percent!"), *blk({P(0.5), P(0.25)})}), TYPE_PERCENT, 8,
         "make vector! [50% 25%]"},
        {*blk({W("percent!"), integer(32), *blk({P(0.5)})}), TYPE_PERCENT, 8,
         "make vector! [50%]"},
        {*blk({P(0.1)}), TYPE_PERCENT, 8, "make vector! [10%]"},
        {*blk({}), TYPE_INTEGER, 4, "make vector! [integer! 32 []]"},
        {*blk({W("integer!"), integer(8)}), TYPE_INTEGER, 1, "make vector! [integer! 8 []]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(mold(c.spec));
        ValueCell* v = make(c.spec);
        ASSERT_EQ(v->type(), static_cast<u32>(TYPE_VECTOR));
        EXPECT_EQ(vector_element_type(v), c.type);
        EXPECT_EQ(vector_element_size(v), c.size);
        EXPECT_EQ(mold(*v), c.molded);
    }
}

TEST_F(VectorTest, MakeRefusesBadSpecs) {
    ValueCell nan = F(std::nan(""));
    struct Case {
        ValueCell spec;
        Err err;
    } const cases[] = {
        {*blk({W("integer!"), integer(12), *blk({integer(1)})}), Err::script_bad_make_arg},
        {*blk({W("float!"), integer(16), integer(1)}), Err::script_bad_make_arg},
        {*blk({W("char!"), integer(64), integer(1)}), Err::script_bad_make_arg},
        {*blk({W("integer!"), integer(8), *str("x")}), Err::script_invalid_spec_field},
        {*blk({W("integer!"), W("x"), integer(1)}), Err::script_invalid_spec_field},
        {*blk({W("integer!")}), Err::script_bad_make_arg},
        {*blk({W("block!"), integer(8), integer(1)}), Err::script_bad_make_arg},
        {*blk({integer(1), *str("a")}), Err::script_invalid_arg},
        {*blk({integer(1), F(2.0)}), Err::script_invalid_arg},
        {*blk({*str("a")}), Err::script_invalid_type},
        {*str("x"), Err::internal_not_done},
        {nan, Err::script_bad_make_arg},
        {F(1e12), Err::internal_no_memory},
        {integer(2000000000), Err::internal_no_memory},
    };
    for (const Case& c : cases) {
        ValueCell spec = c.spec;
        EXPECT_EQ(error_of([&] { make(spec); }), c.err) << mold(spec);
    }
    ValueCell proto;
    datatype_box(&proto, TYPE_VECTOR);
    ValueCell* block = blk({integer(1)});
    EXPECT_EQ(error_of([&] { action_to_dispatch(&proto, block); }), Err::script_expect_arg);
}

TEST_F(VectorTest, FormWritesTheElements) {
    EXPECT_EQ(form(*vec({integer(1), integer(-2), integer(3)})), "1 -2 3");
    EXPECT_EQ(form(*vec({chr('a'), chr('\n'), chr(0xE9)})), "a ^/ \u00E9");
    EXPECT_EQ(form(*vec({P(0.5), P(0.125)})), "50% 12.5%");
    EXPECT_EQ(form(*vec({F(1.0), F(0.1)})), "1.0 0.1");
    ValueCell* f32 = make(*blk({W("float!"), integer(32), *blk({F(0.1)})}));
    EXPECT_EQ(form(*f32), "0.1");
    EXPECT_EQ(form(at(*vec({integer(1), integer(2)}), 1)), "2");
    EXPECT_EQ(mold(*vec({integer(1), integer(2)}), true), "1 2");
    EXPECT_EQ(mold(*make(*blk({W("integer!"), integer(8), integer(1)})), true), "integer! 8 [0]");
    ValueCell r = call({*vec({integer(10), integer(20), integer(30)}), integer(4)},
                       [] { action_form(1); });
    EXPECT_EQ(text(&r), "10 2");
}

TEST_F(VectorTest, ElementsReadBackAsStoredForEachSize) {
    // char! elements come back as the code points stored, never negative;
    // integer! elements are signed.
    struct Case {
        const char* type;
        i32 bits;
        ValueCell stored;
        ValueCell read;
    } const cases[] = {
        {"char!", 8, chr(0xE9), chr(0xE9)},
        {"char!", 8, chr(0xFF), chr(0xFF)},
        {"char!", 8, chr(0x141), chr(0x41)},          // cut to 8 bits
        {"char!", 16, chr(0xE000), chr(0xE000)},
        {"char!", 16, chr(0x1F600), chr(0xF600)},     // cut to 16 bits
        {"char!", 32, chr(0x1F600), chr(0x1F600)},
        {"integer!", 8, integer(300), integer(44)},
        {"integer!", 8, integer(200), integer(-56)},
        {"integer!", 16, integer(40000), integer(-25536)},
        {"integer!", 32, integer(-7), integer(-7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.bits << " " << mold(c.stored));
        ValueCell* v = make(*blk({W(c.type), integer(c.bits), integer(1)}));
        ValueCell s = c.stored;
        action_poke_dispatch(v, 1, &s, nullptr);
        ValueCell* r = action_pick_dispatch(v, 1, nullptr);
        EXPECT_EQ(r->type(), c.read.type());
        EXPECT_EQ(r->data2, c.read.data2);
    }
    // 32-bit floats: rounded, and beyond their range infinity.
    ValueCell* f = make(*blk({W("float!"), integer(32), integer(3)}));
    ValueCell big = F(1e40), third = F(1.0 / 3), max = F(3.4028235e38);
    action_poke_dispatch(f, 1, &big, nullptr);
    action_poke_dispatch(f, 2, &third, nullptr);
    action_poke_dispatch(f, 3, &max, nullptr);
    EXPECT_TRUE(std::isinf(action_pick_dispatch(f, 1, nullptr)->get_float()));
    EXPECT_EQ(action_pick_dispatch(f, 2, nullptr)->get_float(), static_cast<double>(1.0f / 3));
    EXPECT_FALSE(std::isinf(action_pick_dispatch(f, 3, nullptr)->get_float()));
    ValueCell* p = vec({P(0.5)});
    ValueCell* pe = action_pick_dispatch(p, 1, nullptr);
    EXPECT_EQ(pe->type(), static_cast<u32>(TYPE_PERCENT));
    EXPECT_EQ(pe->get_float(), 0.5);
    // A value of another type is refused.
    ValueCell one = integer(1);
    EXPECT_EQ(error_of([&] { action_poke_dispatch(p, 1, &one, nullptr); }), Err::script_invalid_arg);
}

TEST_F(VectorTest, ScalarArithmeticChangesTheVectorInPlace) {
    struct Case {
        ValueCell v;
        void (*entry)();
        ValueCell scalar;
        const char* want;
    } const cases[] = {
        {*vec({integer(1), integer(2), integer(3)}), action_multiply, integer(2), "2 4 6"},
        {*vec({integer(1), integer(2)}), action_add, integer(0), "1 2"},
        {*vec({integer(2147483647)}), action_add, integer(1), "-2147483648"},
        {*vec({integer(-2147483647 - 1)}), action_subtract, integer(1), "2147483647"},
        {*vec({integer(65536)}), action_multiply, integer(65536), "0"},
        {*vec({integer(7), integer(-7)}), action_divide, integer(2), "3 -3"},
        {*vec({integer(7), integer(-7)}), action_remainder, integer(3), "1 -1"},
        {*vec({integer(12)}), action_and_t, integer(10), "8"},
        {*vec({integer(12)}), action_or_t, integer(3), "15"},
        {*vec({integer(12)}), action_xor_t, integer(10), "6"},
        {*vec({integer(10)}), action_multiply, F(2.9), "20"},       // the scalar truncated
        {*vec({integer(10)}), action_add, P(1.5), "11"},
        {*make(*blk({W("integer!"), integer(8), *blk({integer(100)})})), action_add, integer(100),
         "-56"},                                                   // cut to 8 bits
        {*vec({F(1.5), F(2.0)}), action_multiply, integer(2), "3.0 4.0"},
        {*vec({F(1.0)}), action_divide, F(4.0), "0.25"},
        {*vec({P(0.5)}), action_add, P(0.25), "75%"},
        {*vec({chr('a')}), action_add, integer(1), "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(mold(c.v));
        ValueCell r = call({c.v, c.scalar}, c.entry);
        ASSERT_EQ(r.type(), static_cast<u32>(TYPE_VECTOR));
        EXPECT_EQ(r.data2, c.v.data2);  // the same vector
        EXPECT_EQ(elements(&c.v), c.want);
    }
    // Only the elements from the index take part.
    ValueCell* v = vec({integer(1), integer(2), integer(3)});
    call({at(*v, 1), integer(10)}, action_add);
    EXPECT_EQ(elements(v), "1 12 13");
}

TEST_F(VectorTest, ANumberOnTheLeftIsTheLeftOperandOfEachElement) {
    ValueCell* v = vec({integer(1), integer(4)});
    ValueCell r = call({integer(10), *v}, action_subtract);
    ASSERT_EQ(r.type(), static_cast<u32>(TYPE_VECTOR));
    EXPECT_EQ(elements(v), "9 6");  // 10 - v, in place
    call({integer(36), *v}, action_divide);
    EXPECT_EQ(elements(v), "4 6");
    call({integer(7), *v}, action_remainder);
    EXPECT_EQ(elements(v), "3 1");
    call({integer(1), *v}, action_add);
    EXPECT_EQ(elements(v), "4 2");
    ValueCell* f = vec({F(0.5), F(2.0)});
    call({F(1.0), *f}, action_subtract);
    EXPECT_EQ(elements(f), "0.5 -1.0");
    call({F(1.0), *f}, action_divide);
    EXPECT_EQ(elements(f), "2.0 -1.0");
    ValueCell* z = vec({integer(0)});
    EXPECT_EQ(error_of([&] { call({integer(1), *z}, action_divide); }), Err::math_zero_divide);
}

TEST_F(VectorTest, ArithmeticErrors) {
    ValueCell* v = vec({integer(1)});
    EXPECT_EQ(error_of([&] { call({*v, integer(0)}, action_divide); }), Err::math_zero_divide);
    EXPECT_EQ(error_of([&] { call({*v, F(1e20)}, action_multiply); }), Err::math_overflow);
    EXPECT_EQ(error_of([&] { call({*v, F(std::nan(""))}, action_add); }), Err::math_overflow);
    EXPECT_EQ(error_of([&] { call({*v, *str("a")}, action_add); }), Err::internal_not_done);
    EXPECT_EQ(error_of([&] { call({*v, chr('a')}, action_add); }), Err::internal_not_done);
    ValueCell* m = vec({integer(-2147483647 - 1)});
    EXPECT_EQ(error_of([&] { call({*m, integer(-1)}, action_divide); }), Err::math_overflow);
    ValueCell* f = vec({F(1.0)});
    EXPECT_EQ(error_of([&] { call({*f, integer(1)}, action_and_t); }), Err::script_cannot_use);
    ValueCell* c = vec({chr('a')});
    EXPECT_EQ(error_of([&] { call({*v, *c}, action_add); }), Err::script_not_same_type);
    EXPECT_EQ(elements(v), "1");
}

TEST_F(VectorTest, VectorArithmeticMakesANewVector) {
    ValueCell* a = vec({integer(1), integer(2), integer(3)});
    ValueCell* b = vec({integer(10), integer(20)});
    ValueCell r = call({*a, *b}, action_add);
    ASSERT_EQ(r.type(), static_cast<u32>(TYPE_VECTOR));
    EXPECT_NE(r.data2, a->data2);
    EXPECT_EQ(elements(&r), "11 22");
    EXPECT_EQ(elements(a), "1 2 3");
    // The wider element size wins.
    ValueCell* small = make(*blk({W("integer!"), integer(8), *blk({integer(100), integer(1)})}));
    r = call({*small, *b}, action_multiply);
    EXPECT_EQ(vector_element_size(&r), 4u);
    EXPECT_EQ(elements(&r), "1000 20");
    r = call({at(*a, 1), *b}, action_subtract);
    EXPECT_EQ(elements(&r), "-8 -17");
    EXPECT_EQ(series_index(&r), 0);
    ValueCell* f = vec({F(1.0)});
    EXPECT_EQ(error_of([&] { call({*a, *f}, action_add); }), Err::script_not_same_type);
}

TEST_F(VectorTest, Comparison) {
    ValueCell* a = vec({integer(1), integer(2)});
    ValueCell* b = vec({integer(1), integer(2)});
    ValueCell* c = vec({integer(1), integer(3)});
    ValueCell* d = vec({integer(1)});
    EXPECT_TRUE(action_compare(a, b, CMP_EQUAL));
    EXPECT_FALSE(action_compare(a, b, CMP_SAME));
    EXPECT_TRUE(action_compare(a, a, CMP_SAME));
    EXPECT_TRUE(action_compare(a, c, CMP_LESSER));
    EXPECT_TRUE(action_compare(a, d, CMP_NOT_EQUAL));
    EXPECT_TRUE(action_compare(d, a, CMP_LESSER));
    ValueCell* f = vec({F(1.0)});
    ValueCell* g = vec({F(std::nan(""))});
    ValueCell* g2 = vec({F(std::nan(""))});
    EXPECT_FALSE(action_compare(g, g2, CMP_EQUAL));
    EXPECT_TRUE(action_compare(f, g, CMP_NOT_EQUAL));
    EXPECT_EQ(error_of([&] { action_compare(a, f, CMP_EQUAL); }), Err::script_not_same_type);
    ValueCell* blk12 = blk({integer(1), integer(2)});
    EXPECT_FALSE(action_compare(a, blk12, CMP_EQUAL));
    EXPECT_EQ(error_of([&] { action_compare(a, blk12, CMP_LESSER); }), Err::script_invalid_compare);
}

TEST_F(VectorTest, AppendInsertAndChange) {
    ValueCell* v = vec({integer(1)});
    ValueCell r = call({*v, integer(2)}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(series_index(&r), 0);
    call({*v, *blk({integer(3), integer(4)})}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(elements(v), "1 2 3 4");
    call({*v, *blk({integer(5), integer(6), integer(7)}), integer(2)},
         [] { action_append(2, -1, -1); });
    EXPECT_EQ(elements(v), "1 2 3 4 5 6");
    call({*v, integer(0), integer(2)}, [] { action_append(-1, -1, 2); });
    EXPECT_EQ(elements(v), "1 2 3 4 5 6 0 0");
    r = call({at(*v, 1), *blk({integer(8), integer(9)})}, [] { action_insert(-1, -1, -1); });
    EXPECT_EQ(series_index(&r), 3);
    EXPECT_EQ(elements(v), "1 8 9 2 3 4 5 6 0 0");
    // Values of another type change nothing.
    EXPECT_EQ(error_of([&] {
                  call({*v, *blk({integer(1), F(1.0)})}, [] { action_append(-1, -1, -1); });
              }),
              Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { call({*v, *blk({integer(1)})}, [] { action_append(-1, 0, -1); }); }),
              Err::script_invalid_arg);
    EXPECT_EQ(vector_length(v), 10);

    ValueCell* w = vec({integer(1), integer(2), integer(3)});
    r = call({at(*w, 1), integer(7)}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(elements(w), "1 7 3");
    EXPECT_EQ(series_index(&r), 2);
    call({at(*w, 2), *blk({integer(8), integer(9)})}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(elements(w), "1 7 8 9");
    call({at(*w, 1), integer(0), integer(2)}, [] { action_change(2, -1, -1); });
    EXPECT_EQ(elements(w), "1 0 9");
    // Another vector's elements, also from the target's own buffer.
    call({*w, *vec({integer(5), integer(6)})}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(elements(w), "5 6 9");
    call({at(*w, 1), *w}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(elements(w), "5 5 6 9");
    ValueCell* narrow = make(*blk({W("integer!"), integer(8), *blk({integer(1)})}));
    EXPECT_EQ(error_of([&] { call({*w, *narrow}, [] { action_change(-1, -1, -1); }); }),
              Err::script_invalid_arg);
}

TEST_F(VectorTest, SeriesActionsFromStringAndSeries) {
    ValueCell* v = vec({integer(30), integer(10), integer(20)});
    EXPECT_EQ(action_length_q_dispatch(v), 3);
    ValueCell* copy = action_copy_dispatch(v, nullptr, nullptr, false, nullptr);
    EXPECT_EQ(copy->type(), static_cast<u32>(TYPE_VECTOR));
    EXPECT_EQ(vector_element_type(copy), static_cast<u32>(TYPE_INTEGER));
    EXPECT_EQ(mold(*copy), "make vector! [30 10 20]");
    action_sort_dispatch(copy, false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(elements(copy), "10 20 30");
    ValueCell key = integer(10);
    ValueCell* sel = action_select_dispatch(v, &key, nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false);
    ASSERT_EQ(sel->type(), static_cast<u32>(TYPE_INTEGER));
    EXPECT_EQ(dt::int_get(sel), 20);
    ValueCell* taken = action_take_dispatch(v, nullptr, false, true);
    ASSERT_EQ(taken->type(), static_cast<u32>(TYPE_INTEGER));
    EXPECT_EQ(dt::int_get(taken), 20);
    action_reverse_dispatch(v, nullptr, nullptr);
    EXPECT_EQ(elements(v), "10 30");
    ValueCell r = call({*v}, action_next);
    EXPECT_EQ(elements(&r), "30");
    ValueCell proto;
    datatype_box(&proto, TYPE_BLOCK);
    ValueCell* b = action_to_dispatch(&proto, v);
    EXPECT_EQ(mold(*b), "[10 30]");
    ValueCell* cv = vec({chr(0xE9)});
    ValueCell* t = action_take_dispatch(cv, nullptr, false, false);
    ASSERT_EQ(t->type(), static_cast<u32>(TYPE_CHAR));
    EXPECT_EQ(dt::char_get(t), 0xE9u);
    EXPECT_FALSE(have(TYPE_VECTOR, ACT_TO));
    EXPECT_FALSE(have(TYPE_VECTOR, ACT_SWAP));
    EXPECT_FALSE(have(TYPE_VECTOR, ACT_TRIM));
}

// A vector made empty for a capacity, then filled, cut and copied through the
// actions: elements narrower than their value keep the low bits, a change
// at the tail appends, clear cuts from the index.
TEST_F(VectorTest, ElementsNarrowerThanTheValueAndEditsAtTheEnds) {
    ValueCell* v = vector_make_at(unset_push(), 1, TYPE_INTEGER, 2);
    call({*v, integer(70000)}, [] { action_append(-1, -1, -1); });
    call({*v, integer(5)}, [] { action_insert(-1, -1, -1); });
    EXPECT_EQ(elements(v), "5 4464");
    call({at(*v, 2), integer(9)}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(elements(v), "5 4464 9");
    call({at(*v, 1)}, action_clear);
    EXPECT_EQ(elements(v), "5");
    ValueCell* c = action_copy_dispatch(v, nullptr, nullptr, false, nullptr);
    EXPECT_EQ(mold(*c), "make vector! [integer! 16 [5]]");
    EXPECT_EQ(error_of([&] { vector_make_at(unset_push(), 0x40000000, TYPE_FLOAT, 8); }),
              Err::internal_no_memory);
}

}  // namespace
}  // namespace zan::test
