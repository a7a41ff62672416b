// port!: making a port from a stub scheme registry, forwarding every series
// and I/O action to an actor object (the evaluator stood in for by a
// recording call hook) or to the native entries of a handle! actor, and
// the errors of missing schemes, actors and actions.
#include <map>
#include <string>
#include <vector>

#include "fn_test_support.h"
#include "handle_test_support.h"
#include "runtime/core/externals.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/port.h"

namespace zan::test {
namespace {

// One actor call as the stand-in evaluator saw it.
struct ActorCall {
    std::string name;
    std::string args;  // the frame cells after the port, molded
};

std::vector<ActorCall> g_actor_calls;
std::map<std::string, ValueCell> g_actor_results;
ValueCell* g_std_port = nullptr;
ValueCell* g_url_parts = nullptr;
ValueCell* g_schemes = nullptr;

const ValueCell* std_port() { return g_std_port; }
const ValueCell* url_parts() { return g_url_parts; }
const ValueCell* schemes() { return g_schemes; }

// The actions every full stub actor answers.
const char* const kActorWords[] = {
    "open", "close", "at", "back", "skip", "head", "tail", "head?", "tail?", "index?", "next",
    "append", "insert", "change", "copy", "find", "select", "sort", "move", "pick", "poke",
    "put", "remove", "reverse", "take", "trim", "swap", "create", "delete", "query", "update",
    "modify", "rename", "length?",
};

// Native entries of a handle! actor.
i32 native_length(ValueCell*) { return 7; }
ValueCell* native_open(ValueCell*, bool new_, bool read, bool write, bool seek, ValueCell* allow) {
    ActorCall c{"native open", ""};
    for (bool f : {new_, read, write, seek}) c.args += f ? "true " : "false ";
    c.args += allow ? "allow" : "none";
    g_actor_calls.push_back(c);
    return logic_push(true);
}

class PortTest : public FnTest {
protected:
    void SetUp() override {
        FnTest::SetUp();
        g_actor_calls.clear();
        g_actor_results.clear();
        g_interp_hooks.call_function = actor_call;
        g_std_port = make_object(
            "[spec: none scheme: none actor: none awake: none state: none data: none extra: "
            "none]");
        g_url_parts = make_object(
            "[scheme: none user-info: none host: none port: none path: none target: none "
            "query: none fragment: none ref: none]");
        std::string full = "[";
        for (const char* w : kActorWords) full += std::string(w) + ": func [port] [] ";
        full += "clear: func [port /local a b] []]";
        actor_ = make_object(full);
        thin_ = make_object("[open: func [port] [] close: func [port] []]");
        ValueCell* stub = scheme_object("stub", *actor_);
        ValueCell* thin = scheme_object("thin", *thin_);
        ValueCell* broken = scheme_object("broken", g_none_cell);
        ValueCell table = g_none_cell;
        ValueCell* native = scheme_object("native", table);
        externals_init();
        u32 kind = externals_register_kind(0, nullptr);
        for (auto& e : native_table_) e = nullptr;
        native_table_[ACT_LENGTH_Q - ACT_APPEND] = reinterpret_cast<ActionEntry>(native_length);
        native_table_[ACT_OPEN - ACT_APPEND] = reinterpret_cast<ActionEntry>(native_open);
        ValueCell h;
        make_external_handle(&h, native_table_, kind, HANDLE_NONE);
        set_field(native, "actor", h);
        g_schemes = blk({word("stub"), *stub, word("thin"), *thin, word("broken"), *broken,
                         word("native"), *native, word("odd"), integer(1)});
        g_port_services = PortServices{std_port, url_parts, schemes};
    }
    void TearDown() override {
        g_port_services = PortServices{};
        g_std_port = g_url_parts = g_schemes = nullptr;
        FnTest::TearDown();
    }

    static ValueCell* scheme_object(const char* name, const ValueCell& actor) {
        ValueCell* s = make_object("[name: none title: none info: none actor: none awake: none]");
        set_field(s, "name", word(name));
        set_field(s, "actor", actor);
        return s;
    }

    // Records the call and leaves the result prepared for its name, or
    // unset.
    static void actor_call(ValueCell* fn, Node ctx, ValueCell* name, u32 callback) {
        EXPECT_EQ(fn->type(), TYPE_FUNCTION);
        EXPECT_EQ(callback, CALLBACK_PORT_ACTOR);
        CallFrame* f = stack_top_frame();
        EXPECT_EQ(f->kind(), static_cast<u32>(FRAME_FUNCTION));
        EXPECT_EQ(f->func_ctx, fn->data1);
        EXPECT_EQ(f->symbol(), name->data2 & 0xFFFFu);
        EXPECT_EQ(stack_arg(0)->type(), TYPE_PORT);
        EXPECT_NE(ctx, 0u);
        ActorCall c;
        c.name = symbol_to_cstr(name->data2);
        for (ValueCell* v = g_stack.base + 1; v < g_stack.top; v++) {
            if (!c.args.empty()) c.args += " ";
            c.args += mold(*v);
        }
        g_actor_calls.push_back(c);
        auto it = g_actor_results.find(c.name);
        if (it != g_actor_results.end()) *stack_result() = it->second;
        else unset_box(stack_result());
    }

    static ValueCell* make_port(const ValueCell& spec) {
        ValueCell proto;
        datatype_box(&proto, TYPE_PORT);
        ValueCell s = spec;
        ValueCell* sp = stack_push(&s);
        ValueCell p = *action_make_dispatch(&proto, sp);
        g_stack.top = sp;
        return stack_push(&p);
    }
    static ValueCell* port_of(const char* scheme) {
        return make_port(*load1(std::string("[scheme: '") + scheme + "]"));
    }
    static std::string calls_text() {
        std::string s;
        for (const ActorCall& c : g_actor_calls) s += c.name + "(" + c.args + ") ";
        return s;
    }

    ValueCell* actor_ = nullptr;
    ValueCell* thin_ = nullptr;
    ActionEntry native_table_[PORT_ACTOR_ENTRIES];
};

TEST_F(PortTest, MakeFromABlockOrAnObjectSpec) {
    ValueCell* p = make_port(*load1("[scheme: 'stub host: \"h\"]"));
    ASSERT_EQ(p->type(), TYPE_PORT);
    EXPECT_EQ(p->data2, PORT_CLASS_ID);
    EXPECT_EQ(object_word_count(p), 7u);
    ValueCell spec = object_values(p)[PORT_FIELD_SPEC];
    ASSERT_EQ(spec.type(), TYPE_OBJECT);
    EXPECT_EQ(object_word_count(&spec), 9u);  // a copy of url-parts
    ValueCell host = field(&spec, "host");
    EXPECT_EQ(text(&host), "h");
    ValueCell scheme = object_values(p)[PORT_FIELD_SCHEME];
    EXPECT_EQ(scheme.type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(scheme.data2), "stub");
    EXPECT_EQ(object_values(p)[PORT_FIELD_ACTOR].data1, actor_->data1);
    EXPECT_EQ(context_owner(p->data1)->type(), TYPE_PORT);
    // An object spec is used as it is; the prototype is not changed.
    ValueCell* obj = make_object("[scheme: 'stub]");
    ValueCell* q = make_port(*obj);
    EXPECT_EQ(object_values(q)[PORT_FIELD_SPEC].data1, obj->data1);
    EXPECT_NE(q->data1, g_std_port->data1);
    EXPECT_EQ(field(g_std_port, "actor").type(), TYPE_NONE);
    // Text forms: "make port! [" and the fields as an object's.
    EXPECT_EQ(first_line(mold(*q)), "make port! [");
    EXPECT_EQ(form(*q), mold(*q));
    std::string f = mold(*q, false, false, true);
    EXPECT_EQ(f.substr(0, 41), "make port! [spec: make object! [scheme: '");
    std::string end = "state: none data: none extra: none]";
    ASSERT_GT(f.size(), end.size());
    EXPECT_EQ(f.substr(f.size() - end.size()), end);
    // reflect, paths and compare are object!'s.
    EXPECT_EQ(mold(reflect(*q, "words")), "[spec scheme actor awake state data extra]");
    EXPECT_TRUE(action_compare(q, q, CMP_EQUAL));
}

TEST_F(PortTest, MakeErrors) {
    struct Case {
        const char* spec;
        Err id;
    };
    const Case cases[] = {
        {"[scheme: 123]", Err::access_no_scheme},
        {"[host: \"h\"]", Err::access_no_scheme},
        {"[scheme: 'nowhere]", Err::access_unknown_scheme},
        {"[scheme: 'odd]", Err::access_unknown_scheme},
        {"[scheme: 'broken]", Err::access_invalid_actor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        ValueCell spec = *load1(c.spec);
        EXPECT_EQ(error_of([&] { make_port(spec); }), c.id);
    }
    ValueCell* empty = make_object("[]");
    EXPECT_EQ(error_of([&] { make_port(*empty); }), Err::access_no_scheme);
    // Without the registry services making a port cannot proceed.
    g_port_services.schemes = nullptr;
    ValueCell spec = *load1("[scheme: 'stub]");
    EXPECT_EQ(error_of([&] { make_port(spec); }), Err::internal_not_done);
    g_port_services = PortServices{};
    EXPECT_EQ(error_of([&] { make_port(spec); }), Err::internal_not_done);
}

// Each action through its table entry, as the evaluator calls it: the
// frame holds the port, the arguments and the refinement arguments.
TEST_F(PortTest, ActionsAreForwardedWithTheirArguments) {
    ValueCell p = *port_of("stub");
    ValueCell blk3 = *load1("[1 2 3]");
    ValueCell blk1 = *load1("[a]");
    ValueCell x = *str("x");
    ValueCell a = *str("a");
    ValueCell wild = *str("*?");
    ValueCell k = word("k");
    ValueCell v = *str("v");
    struct Case {
        const char* name;
        std::vector<ValueCell> frame;  // after the port
        void (*entry)();
        const char* args;
    };
    const Case cases[] = {
        {"open", {}, [] { action_open(-1, -1, -1, -1, -1); }, "false false false false none"},
        {"open", {k}, [] { action_open(-1, 1, -1, 1, 1); }, "false true false true k"},
        {"close", {}, action_close, ""},
        {"at", {integer(3)}, action_at, "3"},
        {"skip", {integer(-2)}, action_skip, "-2"},
        {"back", {}, action_back, ""},
        {"head", {}, action_head, ""},
        {"tail", {}, action_tail, ""},
        {"head?", {}, action_head_q, ""},
        {"tail?", {}, action_tail_q, ""},
        {"index?", {}, action_index_q, ""},
        {"next", {}, action_next, ""},
        {"append", {blk3, integer(2), integer(3)}, [] { action_append(2, -1, 3); },
         "[1 2 3] true 2 false true 3"},
        {"insert", {x, g_true_cell}, [] { action_insert(-1, 2, -1); },
         "\"x\" false none true false none"},
        {"change", {integer(5)}, [] { action_change(-1, -1, -1); },
         "5 false none false false none"},
        {"clear", {}, action_clear, "false none none"},
        {"copy", {integer(5)}, [] { action_copy(1, 1, -1); }, "true 5 true false none"},
        {"find", {a, integer(2)},
         [] { action_find(-1, -1, 1, -1, -1, -1, 2, 1, -1, -1, 1); },
         "\"a\" false none false true false false false none true 2 true false false true"},
        {"select", {k, wild}, [] { action_select(-1, -1, -1, 1, -1, 2, -1, -1, 1); },
         "k false none false false true false true \"*?\" false none false true"},
        {"sort", {integer(1)}, [] { action_sort(-1, -1, 1, -1, -1, 1, -1); },
         "false false none true 1 false none false true false"},
        {"move", {integer(1), integer(2)}, [] { action_move(2); }, "1 true 2"},
        {"pick", {integer(2)}, action_pick, "2"},
        {"poke", {integer(2), v}, action_poke, "2 \"v\""},
        {"put", {k, integer(1)}, [] { action_put(1); }, "k 1 true"},
        {"remove", {integer(3)}, [] { action_remove(1, -1); }, "true 3"},
        {"reverse", {}, [] { action_reverse(-1, -1); }, "false none"},
        {"take", {}, [] { action_take(-1, -1, 1); }, "false none false true"},
        {"trim", {x}, [] { action_trim(-1, -1, -1, -1, 1, 1); },
         "false false false false true true \"x\""},
        {"swap", {blk1}, action_swap, "[a]"},
        {"create", {}, action_create, ""},
        {"delete", {}, action_delete, ""},
        {"query", {}, action_query, ""},
        {"update", {}, action_update, ""},
        {"modify", {k, integer(1)}, [] { action_modify(-1); }, "k 1 false"},
        {"rename", {k}, action_rename, "k"},
        {"length?", {}, action_length_q, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_actor_calls.clear();
        ValueCell* top = g_stack.top;
        CallFrame* ctop = g_stack.ctop;
        stack_mark_native(g_words.n.body);
        stack_push(&p);
        for (const ValueCell& cell : c.frame) stack_push(&cell);
        c.entry();
        stack_unwind();
        EXPECT_EQ(g_stack.ctop, ctop);
        EXPECT_EQ(g_stack.top, top + 1);
        g_stack.top = top;
        ASSERT_EQ(g_actor_calls.size(), 1u) << calls_text();
        EXPECT_EQ(g_actor_calls[0].name, c.name);
        EXPECT_EQ(g_actor_calls[0].args, c.args);
    }
}

TEST_F(PortTest, TheActorsResultIsTheActionsResult) {
    ValueCell p = *port_of("stub");
    g_actor_results["length?"] = integer(42);
    g_actor_results["at"] = integer(99);
    g_actor_results["pick"] = *str("picked");
    g_actor_results["copy"] = *str("copied");
    g_actor_results["clear"] = integer(0);
    EXPECT_EQ(int_of(call({p}, action_length_q)), 42);
    EXPECT_EQ(int_of(call({p, integer(1)}, action_at)), 99);
    ValueCell picked = call({p, integer(1)}, action_pick);
    EXPECT_EQ(text(&picked), "picked");
    ValueCell copied = call({p}, [] { action_copy(-1, -1, -1); });
    EXPECT_EQ(text(&copied), "copied");
    EXPECT_EQ(int_of(call({p}, action_clear)), 0);
    // A length? answer that is not an integer! gives none.
    g_actor_results["length?"] = *str("many");
    EXPECT_EQ(call({p}, action_length_q).type(), TYPE_NONE);
    // Through a typed dispatcher the caller's result cell is left alone.
    ValueCell* held = stack_push(&p);
    ValueCell before = *stack_result();
    ValueCell* r = action_pick_dispatch(held, 1, held);
    EXPECT_EQ(text(r), "picked");
    EXPECT_EQ(stack_result()->type(), before.type());
}

TEST_F(PortTest, ReadAndWriteComposeTheActorsActions) {
    ValueCell p = *port_of("stub");
    g_actor_results["copy"] = *str("data");
    ValueCell r = call({p, integer(4), integer(0)}, [] { action_read(1, 2, -1, -1, -1, -1); });
    EXPECT_EQ(text(&r), "data");
    EXPECT_EQ(calls_text(),
              "open(false false false true none) copy(true 4 false false none) close() ");
    g_actor_calls.clear();
    ValueCell abc = *str("abc");
    ValueCell w = call({p, abc, integer(2)}, [] { action_write(-1, -1, -1, -1, 2, -1, -1, -1); });
    EXPECT_EQ(text(&w), "data");
    EXPECT_EQ(calls_text(),
              "open(false false true false none) insert(\"abc\" true 2 false false none) "
              "copy(false none false false none) close() ");
}

TEST_F(PortTest, MissingActionsAndActors) {
    ValueCell p = *port_of("thin");
    call({p}, [] { action_open(-1, -1, -1, -1, -1); });
    ASSERT_EQ(g_actor_calls.size(), 1u);
    EXPECT_EQ(g_actor_calls[0].args, "false false false false none");
    ValueCell err = caught([&] { call({p}, action_length_q); });
    EXPECT_EQ(id_of(err), "no-port-action");
    ValueCell arg1 = *error_field(&err, ERR_FIELD_ARG1);
    ASSERT_EQ(arg1.type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(arg1.data2), "length?");
    EXPECT_EQ(error_of([&] { call({p, p}, action_swap); }), Err::access_no_port_action);
    // open? is no port action at all for an object actor.
    EXPECT_EQ(error_of([&] { call({p}, action_open_q); }), Err::script_expect_arg);
    // An actor field that is not an object makes the port invalid.
    ValueCell* q = port_of("stub");
    set_field(q, "actor", integer(1));
    ValueCell qq = *q;
    EXPECT_EQ(error_of([&] { call({qq}, action_close); }), Err::access_invalid_port);
}

TEST_F(PortTest, AHandleActorRunsNativeEntries) {
    ValueCell p = *port_of("native");
    EXPECT_EQ(object_values(&p)[PORT_FIELD_ACTOR].type(), TYPE_HANDLE);
    EXPECT_EQ(int_of(call({p}, action_length_q)), 7);
    ValueCell r = call({p, g_none_cell}, [] { action_open(-1, 1, 1, -1, 1); });
    EXPECT_TRUE(logic_get(&r));
    ASSERT_EQ(g_actor_calls.size(), 1u);
    EXPECT_EQ(g_actor_calls[0].args, "false true true false allow");
    EXPECT_EQ(error_of([&] { call({p}, action_clear); }), Err::access_no_port_action);
    EXPECT_EQ(error_of([&] { call({p}, action_open_q); }), Err::access_no_port_action);
    // make, form and mold stay the port's own.
    EXPECT_EQ(first_line(mold(p)), "make port! [");
    EXPECT_EQ(port_action_entry(&p, ACT_MOLD), nullptr);
}

}  // namespace
}  // namespace zan::test
