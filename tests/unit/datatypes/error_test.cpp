// error!: the catalogue, making errors, their report texts, field access,
// and the path of an error that nothing catches.
#include <cstdio>

#include "fn_test_support.h"
#include "runtime/terminal/print_hooks.h"

namespace zan::test {
namespace {

class ErrorTest : public FnTest {
protected:
    // The report of an error made from an id and arguments (where and near
    // left none).
    static std::string report(Err id, const ValueCell* a1 = nullptr,
                              const ValueCell* a2 = nullptr, const ValueCell* a3 = nullptr) {
        ValueCell e = *error_create(id, a1, a2, a3);
        return form(e);
    }
    static ValueCell* make_error(const ValueCell& spec) {
        ValueCell* s = stack_push(&spec);
        return error_make(s);
    }
};

TEST_F(ErrorTest, EveryIdHasATemplateAndACode) {
    const Err ids[] = {
#define ZAN_X(code, cat, name, word) Err::name,
        ZAN_ERROR_IDS(ZAN_X)
#undef ZAN_X
    };
    ValueCell* top = g_stack.top;
    for (Err id : ids) {
        ValueCell e = *error_create(id, nullptr, nullptr, nullptr);
        EXPECT_EQ(int_of(*error_field(&e, ERR_FIELD_CODE)), static_cast<i32>(id)) << err_id_name(id);
        EXPECT_STREQ(symbol_to_cstr(error_get_id(&e)), err_id_name(id));
        EXPECT_STREQ(symbol_to_cstr(error_get_type(&e)), err_category_name(err_category(id)));
        // Every report starts with the category's title.
        std::string r = form(e);
        std::string title = std::string("*** ") + g_error_categories[err_category(id)].title + ": ";
        EXPECT_EQ(r.substr(0, title.size()), title) << err_id_name(id);
        g_stack.top = top;
    }
}

TEST_F(ErrorTest, TemplateNotation) {
    struct Case {
        const char* source;
        bool ok;
        ErrorTemplate::Shape shape;
        size_t items;
    } cases[] = {
        {R"("plain text")", true, ErrorTemplate::STRING, 1},
        {R"([:arg1 "has no value"])", true, ErrorTemplate::BLOCK, 2},
        {R"(["x [" :arg1 "]"])", true, ErrorTemplate::BLOCK, 3},
        {R"([arg1 "plain word"])", true, ErrorTemplate::BLOCK, 2},
        {R"(arg1)", true, ErrorTemplate::WORD, 1},
        {R"([:arg1 "open)", false, ErrorTemplate::BLOCK, 0},
        {R"([:arg1)", false, ErrorTemplate::BLOCK, 0},
        {R"(:arg1)", false, ErrorTemplate::WORD, 0},
        {R"("a" "b")", false, ErrorTemplate::STRING, 0},
    };
    for (const Case& c : cases) {
        ErrorTemplate t;
        EXPECT_EQ(error_template_parse(c.source, &t), c.ok) << c.source;
        if (!c.ok) continue;
        EXPECT_EQ(t.shape, c.shape) << c.source;
        EXPECT_EQ(t.items.size(), c.items) << c.source;
    }
}

TEST_F(ErrorTest, TheCatalogueObject) {
    const ValueCell* cat = error_catalog();
    ASSERT_EQ(cat->type(), TYPE_OBJECT);
    EXPECT_EQ(mold(reflect(*cat, "words")),
              "[throw note syntax script math access reserved1 reserved2 user internal]");
    ValueCell script = field(cat, "script");
    EXPECT_EQ(int_of(field(&script, "code")), 300);
    EXPECT_EQ(form(field(&script, "type")), "Script Error");
    EXPECT_EQ(object_word_count(&script), 2u + 94u);
    EXPECT_EQ(mold(field(&script, "no-value")), "[:arg1 \"has no value\"]");
    EXPECT_EQ(form(field(&script, "bad-op-spec")),
              "making an op! requires a function with only 2 arguments and no lit/get-word on "
              "left argument");
    ValueCell user = field(cat, "user");
    EXPECT_EQ(field(&user, "message").type(), TYPE_WORD);
    EXPECT_EQ(mold(field(&user, "message")), "arg1");
    ValueCell internal = field(cat, "internal");
    EXPECT_EQ(mold(field(&internal, "deprecated")),
              "[arg1 \"is DEPRECATED, please use\" arg2 \"instead\"]");
    ValueCell reserved = field(cat, "reserved2");
    EXPECT_EQ(object_word_count(&reserved), 2u);
    EXPECT_EQ(form(field(&reserved, "type")), "Reserved2 Error");
    // Raising code names errors by position in the catalogue.
    EXPECT_STREQ(symbol_to_cstr(object_word_at(error_catalog_categories(), 3)->data2), "script");
    EXPECT_STREQ(symbol_to_cstr(object_word_at(error_catalog_category(3), 2)->data2), "no-value");
}

TEST_F(ErrorTest, ReportTexts) {
    ValueCell x = word("x");
    ValueCell append = word("append");
    ValueCell none_dt;
    datatype_box(&none_dt, TYPE_NONE);
    ValueCell series = word("series");
    ValueCell* text = str("string");
    ValueCell* quote = str("quoted");
    ValueCell* path = load1("[a b]");
    cell_set_type(path, TYPE_PATH);
    ValueCell b = word("b");
    struct Case {
        Err id;
        const ValueCell *a1, *a2, *a3;
        const char* expected;
    } cases[] = {
        {Err::script_no_value, &x, nullptr, nullptr, "*** Script Error: x has no value"},
        {Err::script_expect_arg, &append, &none_dt, &series,
         "*** Script Error: append does not allow none! for its series argument"},
        {Err::script_invalid_path, path, &b, nullptr,
         "*** Script Error: cannot access b in path a/b"},
        {Err::script_invalid_arg, quote, nullptr, nullptr,
         "*** Script Error: invalid argument: \"quoted\""},
        {Err::syntax_invalid, text, quote, &x, "*** Syntax Error: string invalid quoted at x"},
        {Err::math_zero_divide, nullptr, nullptr, nullptr,
         "*** Math Error: attempt to divide by zero"},
        {Err::internal_not_done, nullptr, nullptr, nullptr,
         "*** Internal Error: reserved for future use (or not yet implemented)"},
        {Err::internal_deprecated, &x, &b, nullptr,
         "*** Internal Error: x is DEPRECATED, please use b instead"},
        {Err::throw_throw, &x, nullptr, nullptr, "*** Throw Error: no catch for throw: x"},
        {Err::note_no_load, text, nullptr, nullptr, "*** note: cannot load:  \"string\""},
        {Err::script_no_arg, &append, nullptr, nullptr,
         "*** Script Error: append is missing its none argument"},
        {Err::script_bad_path_type2, &x, &none_dt, nullptr,
         "*** Script Error: path element > x < does not apply to none! type"},
        {Err::access_no_port_action, nullptr, nullptr, nullptr,
         "*** Access Error: port action not supported"},
        {Err::script_invalid_spec_field, &x, nullptr, nullptr,
         "*** Script Error: invalid x field in spec block"},
    };
    for (const Case& c : cases) {
        std::string r = report(c.id, c.a1, c.a2, c.a3);
        EXPECT_EQ(r, std::string(c.expected) + "\n*** Where: ???\n*** Near : none")
            << err_id_name(c.id);
    }
}

TEST_F(ErrorTest, ArgumentsAreCutAt80Characters) {
    std::string long_text(100, 'z');
    ValueCell* s = str(long_text);
    std::string r = first_line(report(Err::script_invalid_arg, s));
    // The argument is molded (a long string in braces), then cut.
    EXPECT_EQ(r, "*** Script Error: invalid argument: {" + std::string(79, 'z'));
    std::string f = first_line(report(Err::syntax_no_header, s));
    EXPECT_EQ(f, "*** Syntax Error: script is missing a Zan header: " + std::string(80, 'z'));
}

TEST_F(ErrorTest, WhereNearStackAndFiles) {
    ValueCell e = *error_create(Err::math_overflow, nullptr, nullptr, nullptr);
    ValueCell* err = stack_push(&e);
    ValueCell fn = word("my-func");
    *error_field(err, ERR_FIELD_WHERE) = fn;
    ValueCell* near_block = load1("[1 + x / 0 this block is long enough to be cut somewhere]");
    series_set_index(near_block, 1);
    *error_field(err, ERR_FIELD_NEAR) = *near_block;
    EXPECT_EQ(form(*err),
              "*** Math Error: math or number overflow\n*** Where: my-func\n*** Near : + x / 0 this block is long enough to be ");
    ValueCell* where = str("a place");
    *error_field(err, ERR_FIELD_WHERE) = *where;
    EXPECT_EQ(first_line(form(*err).substr(form(*err).find('\n') + 1)), "*** Where: a place");

    // The stack and files lines, once the system object says so.
    static ValueCell trace_level;
    static ValueCell files;
    integer_box(&trace_level, 1);
    files = *load1("[a.zan]");
    g_interp_hooks.state_stack_trace = [] { return static_cast<const ValueCell*>(&trace_level); };
    ValueCell* trace = load1("[f g]");
    *error_field(err, ERR_FIELD_STACK) = *trace;
    *error_field(err, ERR_FIELD_FILES) = files;
    std::string r = form(*err);
    EXPECT_NE(r.find("\n*** Stack: f g\n*** Files: a.zan"), std::string::npos) << r;
    integer_box(&trace_level, 0);
    EXPECT_EQ(form(*err).find("*** Stack"), std::string::npos);
}

TEST_F(ErrorTest, MalformedErrorsStillPrint) {
    ValueCell e = *error_create(Err::script_no_value, nullptr, nullptr, nullptr);
    ValueCell* err = stack_push(&e);
    *error_field(err, ERR_FIELD_TYPE) = word("no-such-category");
    EXPECT_EQ(first_line(form(*err)),
              "*** Internal Error: invalid error object field value: no-such-category");
    // Forming did not change the error.
    EXPECT_STREQ(symbol_to_cstr(error_get_type(err)), "no-such-category");
    *error_field(err, ERR_FIELD_TYPE) = word("math");
    *error_field(err, ERR_FIELD_ID) = word("no-such-id");
    EXPECT_EQ(first_line(form(*err)),
              "*** Internal Error: invalid error object field value: no-such-id");
    ValueCell ival = integer(3);
    *error_field(err, ERR_FIELD_TYPE) = ival;
    EXPECT_EQ(first_line(form(*err)), "*** Internal Error: invalid error object field value: 3");
}

TEST_F(ErrorTest, MakeFromCodesAndBlocks) {
    ValueCell e300 = *make_error(integer(300));
    EXPECT_STREQ(symbol_to_cstr(error_get_type(&e300)), "script");
    EXPECT_STREQ(symbol_to_cstr(error_get_id(&e300)), "no-value");
    EXPECT_EQ(int_of(*error_field(&e300, ERR_FIELD_CODE)), 300);
    EXPECT_EQ(e300.data2, OBJECT_CLASS_ERROR);
    EXPECT_EQ(e300.data3, 0u);
    ValueCell* spec = load1("[script no-value]");
    ValueCell eb = *error_make(spec);
    EXPECT_EQ(int_of(*error_field(&eb, ERR_FIELD_CODE)), 300);
    ValueCell* spec2 = load1("[internal deprecated]");
    EXPECT_EQ(int_of(*error_field(error_make(spec2), ERR_FIELD_CODE)), 913);
    EXPECT_EQ(int_of(*error_field(make_error(integer(0)), ERR_FIELD_CODE)), 0);

    for (i32 code : {-1, 1000, 399, 601, 516}) {
        ValueCell err = caught([&] { make_error(integer(code)); });
        EXPECT_EQ(id_of(err), "out-of-range") << code;
        EXPECT_EQ(int_of(*error_field(&err, ERR_FIELD_ARG1)), code);
    }
    ValueCell f;
    cell_init(&f, TYPE_FLOAT);
    f.put_float(3.5);
    EXPECT_EQ(id_of(caught([&] { make_error(f); })), "bad-make-arg");

    ValueCell err = caught([&] { error_make(load1("[script nothing-such]")); });
    EXPECT_EQ(id_of(err), "invalid-spec-field");
    EXPECT_EQ(first_line(form(err)), "*** Script Error: invalid id field in spec block");
    EXPECT_EQ(first_line(form(caught([&] { error_make(load1("[nothing-such no-value]")); }))),
              "*** Script Error: invalid type field in spec block");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[script]")); })), "invalid-spec-field");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[script code]")); })), "invalid-spec-field");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[script 1]")); })), "invalid-arg");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[1 2]")); })), "invalid-error");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[]")); })), "invalid-error");
}

TEST_F(ErrorTest, MakeFromAStringOrASetWordBlock) {
    ValueCell* boom = str("boom");
    ValueCell e = *error_make(boom);
    EXPECT_STREQ(symbol_to_cstr(error_get_type(&e)), "user");
    EXPECT_STREQ(symbol_to_cstr(error_get_id(&e)), "message");
    EXPECT_EQ(form(*error_field(&e, ERR_FIELD_ARG1)), "boom");
    EXPECT_EQ(first_line(form(e)), "*** User Error: boom");
    EXPECT_EQ(int_of(*error_field(&e, ERR_FIELD_CODE)), 800);

    ValueCell made = *error_make(load1("[type: 'script id: 'need-value arg1: 'y]"));
    EXPECT_EQ(int_of(*error_field(&made, ERR_FIELD_CODE)), 301);
    EXPECT_EQ(first_line(form(made)), "*** Script Error: y needs a value");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[type: 'nothing id: 'need-value]")); })),
              "invalid-spec-field");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[type: 'script id: 'nothing]")); })),
              "invalid-spec-field");
    EXPECT_EQ(id_of(caught([&] { error_make(load1("[type: 'script]")); })), "invalid-spec-field");
}

TEST_F(ErrorTest, NearComesFromTheInterpreterPosition) {
    static ValueCell position;
    position = *load1("[a b c]");
    g_interp_hooks.position = [] { return static_cast<const ValueCell*>(&position); };
    ValueCell e = *make_error(integer(400));
    EXPECT_EQ(mold(*error_field(&e, ERR_FIELD_NEAR)), "[a b c]");
    EXPECT_NE(form(e).find("\n*** Near : a b c"), std::string::npos);
}

TEST_F(ErrorTest, MoldAndFieldAccess) {
    ValueCell x = word("x");
    ValueCell e = *error_create(Err::script_no_value, &x, nullptr, nullptr);
    ValueCell* err = stack_push(&e);
    EXPECT_EQ(mold(*err, false, false, true),
              "make error! [code: 300 type: 'script id: 'no-value arg1: 'x arg2: none arg3: none "
              "near: none where: none stack: none files: none]");
    EXPECT_EQ(mold(*err).substr(0, 30), "make error! [\n    code: 300\n  ");
    ValueCell* path = load1("[err stack]");
    cell_set_type(path, TYPE_PATH);
    ValueCell* stack_word = stack_push_cell();
    *stack_word = word("stack");
    ValueCell bad = caught([&] {
        error_eval_path(err, stack_word, nullptr, path, nullptr, nullptr, 1, false, false, true,
                        false);
    });
    EXPECT_EQ(id_of(bad), "invalid-path-set");
    EXPECT_EQ(mold(*error_field(&bad, ERR_FIELD_ARG1)), "err/stack");
    ValueCell zero = integer(0);
    EXPECT_EQ(id_of(caught([&] {
                  error_eval_path(err, stack_word, &zero, path, nullptr, nullptr, 1, false, false,
                                  true, false);
              })),
              "invalid-path-set");
    ValueCell* id = stack_push_cell();
    *id = word("id");
    EXPECT_EQ(mold(*error_eval_path(err, id, nullptr, path, nullptr, nullptr, 1, false, false,
                                    true, false)),
              "no-value");
    // reflect, select and copy come from object!; find is not supported.
    EXPECT_EQ(action_entry(TYPE_ERROR, ACT_REFLECT), action_entry(TYPE_OBJECT, ACT_REFLECT));
    EXPECT_EQ(action_entry(TYPE_ERROR, ACT_COPY), action_entry(TYPE_OBJECT, ACT_COPY));
    EXPECT_EQ(action_entry(TYPE_ERROR, ACT_SELECT), action_entry(TYPE_OBJECT, ACT_SELECT));
    EXPECT_EQ(action_entry(TYPE_ERROR, ACT_FIND), nullptr);
    EXPECT_EQ(mold(reflect(*err, "class")), "1");
}

TEST_F(ErrorTest, CompareAsObjects) {
    ValueCell x = word("x");
    ValueCell a = *error_create(Err::script_no_value, &x, nullptr, nullptr);
    ValueCell b = *error_create(Err::script_no_value, &x, nullptr, nullptr);
    ValueCell y = word("y");
    ValueCell c = *error_create(Err::script_no_value, &y, nullptr, nullptr);
    ValueCell* pa = stack_push(&a);
    ValueCell* pb = stack_push(&b);
    ValueCell* pc = stack_push(&c);
    EXPECT_TRUE(action_compare(pa, pb, CMP_EQUAL));
    EXPECT_FALSE(action_compare(pa, pc, CMP_EQUAL));
    EXPECT_EQ(pa->type(), TYPE_ERROR);  // the header came back
    ValueCell* o = make_object("[a: 1]");
    EXPECT_EQ(error_compare(pa, o, CMP_EQUAL), CMP_NOT_COMPARABLE);
}

TEST_F(ErrorTest, FireBuildsTheErrorAndFillsWhereAndStack) {
    ValueCell x = word("x");
    ValueCell err = caught([&] {
        stack_mark_native(word_load("some-native"));
        fire(Err::script_no_value, &x);
    });
    EXPECT_EQ(id_of(err), "no-value");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG1)), "x");
    EXPECT_EQ(error_field(&err, ERR_FIELD_ARG2)->type(), TYPE_NONE);
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_WHERE)), "some-native");
    EXPECT_EQ(error_field(&err, ERR_FIELD_STACK)->type(), TYPE_INTEGER);
    EXPECT_EQ(first_line(form(err)), "*** Script Error: x has no value");
}

TEST_F(ErrorTest, PrepareThrowKeepsAStackBlock) {
    ValueCell e = *error_create(Err::script_no_value, nullptr, nullptr, nullptr);
    ValueCell* err = stack_push(&e);
    stack_mark_native(word_load("outer"));
    error_prepare_throw(err);
    EXPECT_EQ(mold(*error_field(err, ERR_FIELD_WHERE)), "outer");
    EXPECT_EQ(int_of(*error_field(err, ERR_FIELD_STACK)), static_cast<i32>(g_stack.ctop - g_stack.cbottom));
    ValueCell* trace = load1("[a]");
    *error_field(err, ERR_FIELD_STACK) = *trace;
    error_prepare_throw(err);
    EXPECT_EQ(mold(*error_field(err, ERR_FIELD_STACK)), "[a]");
    stack_unwind();
}

TEST_F(ErrorTest, CaptureStackNamesTheCallsThatRunFunctions) {
    ValueCell* f = make_func("[] []");
    ValueCell* fw = bind_global("outer-fn", *f);
    bind_global("plain", integer(1));
    stack_mark_func(fw, f->data1);
    stack_mark_native(word_load("plain"));
    ValueCell e = *error_create(Err::math_overflow, nullptr, nullptr, nullptr);
    ValueCell* err = stack_push(&e);
    error_prepare_throw(err);
    static ValueCell files;
    files = *load1("[x.zan]");
    g_interp_hooks.state_source_files = [] { return static_cast<const ValueCell*>(&files); };
    error_capture_stack(err);
    EXPECT_EQ(mold(*error_field(err, ERR_FIELD_STACK)), "[outer-fn]");
    EXPECT_EQ(mold(*error_field(err, ERR_FIELD_FILES)), "[x.zan]");
    EXPECT_NE(error_field(err, ERR_FIELD_FILES)->data2, files.data2);
    stack_unwind();
    stack_unwind_func();
}

TEST_F(ErrorTest, ArgumentWordOfTheCall) {
    ValueCell* f = make_func("[series value /part length] []");
    ValueCell* fw = bind_global("my-append", *f);
    stack_mark_func(fw, f->data1);
    EXPECT_EQ(mold(*error_arg_word_of_call(0)), "series");
    EXPECT_EQ(mold(*error_arg_word_of_call(2)), "/part");
    EXPECT_EQ(mold(*error_arg_word_of_call(3)), "length");
    EXPECT_EQ(mold(*error_arg_word_of_call(4)), "<anon>");
    stack_unwind_func();
    bind_global("not-callable", integer(3));
    stack_mark_native(word_load("not-callable"));
    EXPECT_EQ(mold(*error_arg_word_of_call(0)), "<anon>");
    stack_unwind();
}

TEST_F(ErrorTest, AStackOverflowIsRaisedAsAnError) {
    // The catalogue is not built yet: the overflow's error builds it with
    // the few cells the overflow leaves.
    ValueCell err = caught([&] {
        for (;;) stack_push_cell();
    });
    EXPECT_EQ(id_of(err), "stack-overflow");
    EXPECT_EQ(first_line(form(err)), "*** Internal Error: stack overflow");
}

TEST_F(ErrorTest, ErrorsUnderCollectorStress) {
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell x = word("x");
    for (int k = 0; k < 3; k++) {
        ValueCell err = caught([&] { fire(Err::script_no_value, &x); });
        EXPECT_EQ(first_line(form(err)), "*** Script Error: x has no value");
        ValueCell made = *error_make(load1("[type: 'math id: 'overflow]"));
        EXPECT_EQ(first_line(form(made)), "*** Math Error: math or number overflow");
        EXPECT_EQ(int_of(*error_field(make_error(integer(402)), ERR_FIELD_CODE)), 402);
    }
}

void stderr_hook(const ValueCell* s, bool new_line) {
    ValueCell c = *s;
    i32 len = -1;
    char* p = unicode_to_utf8(&c, &len);
    std::fwrite(p, 1, static_cast<size_t>(len), stderr);
    if (new_line) std::fputc('\n', stderr);
    std::fflush(stderr);
}

TEST_F(ErrorTest, AnUncaughtErrorIsPrintedAndEndsTheProcessWith254) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            print_hooks_init();
            print_hooks_remove(print_hooks_default, nullptr);
            print_hooks_add(stderr_hook, nullptr);
            g_stack_error_hooks.prepare_error = error_prepare_throw;
            g_stack_error_hooks.print_uncaught = error_print_uncaught;
            ValueCell x = word("x");
            fire(Err::script_no_value, &x);
        },
        ::testing::ExitedWithCode(254), "\\*\\*\\* Script Error: x has no value\n\\*\\*\\* Where: ");
}

}  // namespace
}  // namespace zan::test
