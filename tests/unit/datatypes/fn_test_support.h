// Fixture for the tests of functions, objects, errors and ownership: a fresh
// runtime with the callable, object and error datatypes, a small reader for
// test sources, and stand-ins for the two evaluator services these
// datatypes call (evaluating a spec block, calling a change handler).
//
// The stand-in evaluator knows exactly what the tests write in spec blocks:
// chains of set-words followed by one value, where a value is a literal, a
// lit-word (giving the word), none/true/false, a word or get-word (its
// value), or func followed by its spec and body blocks.
#pragma once
#include <cctype>
#include <string>
#include <vector>

#include "dt_test_support.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/error.h"
#include "runtime/typesystem/error_catalog.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/datatypes/routine.h"

namespace zan::test {

// One call of a change handler as the stand-in evaluator saw it.
struct HandlerCall {
    std::string name;               // the frame's word
    u32 callback = 0;               // the callback kind
    std::vector<std::string> args;  // every frame cell, molded
};

class FnTest : public DtTest {
protected:
    void SetUp() override {
        DtTest::SetUp();
        calls().clear();
        g_interp_hooks = InterpHooks{};
        g_interp_hooks.eval_block = eval_block;
        g_interp_hooks.call_function = record_call;
        // The datatype words name their datatypes, as start-up binds them.
        for (u32 t = 1; t <= g_highest_type; t++) {
            if (!g_type_names[t].name) continue;
            ValueCell w = *word_load(g_type_names[t].name);
            ValueCell dt;
            datatype_box(&dt, t);
            context_set(&w, &dt);
        }
        // Everything runs inside a frame of its own, so that the result
        // cells that implementations write never overwrite a test's values.
        stack_mark_native(g_words.n.body);
        unset_push();
    }
    void TearDown() override {
        g_interp_hooks = InterpHooks{};
        set_collect_stress(false);
        DtTest::TearDown();
    }

    static std::vector<HandlerCall>& calls() {
        static std::vector<HandlerCall> c;
        return c;
    }

    // ---- the reader -----------------------------------------------------------------------
    // Reads a source into a block! pushed on the data stack: [ ] ( ) blocks
    // and parens, "strings", integers, words, set-words, :get-words,
    // 'lit-words and /refinements; words are bound to the global context.
    static ValueCell* load(const std::string& src) {
        size_t pos = 0;
        ValueCell* b = block_push_new(8);
        read_into(b, src, pos, '\0');
        return b;
    }
    // The first value of a source.
    static ValueCell* load1(const std::string& src) {
        ValueCell* b = load(src);
        ValueCell v = *block_head_ptr(b);
        stack_pop(1);
        return stack_push(&v);
    }

    static i32 int_of(const ValueCell& v) { return integer_get(&v); }
    static std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }
    // A word bound to an object's field.
    static ValueCell bound_word_of(const ValueCell* obj, const char* name) {
        ValueCell w = word(name);
        w.data1 = obj->data1;
        w.data3 = static_cast<u32>(object_find_word(obj, &w));
        return w;
    }
    // A global word holding a value (the word is pushed).
    static ValueCell* bind_global(const char* name, const ValueCell& v) {
        ValueCell* w = stack_push(word_load(name));
        ValueCell val = v;
        context_set(w, &val);
        return w;
    }

    // ---- making values ---------------------------------------------------------------------------
    // make object! from a source block (the object stays pushed).
    static ValueCell* make_object(const std::string& spec) {
        ValueCell* s = load1(spec);
        ValueCell* proto = stack_push_cell();
        datatype_box(proto, TYPE_OBJECT);
        ValueCell* r = object_make(proto, s, TYPE_OBJECT);
        ValueCell o = *r;
        g_stack.top = s;
        return stack_push(&o);
    }
    static ValueCell* make_from(ValueCell* proto, const std::string& spec) {
        ValueCell* p = stack_push(proto);
        ValueCell* s = load1(spec);
        ValueCell* r = object_make(p, s, TYPE_OBJECT);
        ValueCell o = *r;
        g_stack.top = p;
        return stack_push(&o);
    }
    static ValueCell* make_func(const std::string& spec_and_body) {
        ValueCell* s = load(spec_and_body);
        ValueCell* r = function_make(s, s, TYPE_FUNCTION);
        ValueCell f = *r;
        g_stack.top = s;
        return stack_push(&f);
    }
    // A field of an object by name.
    static ValueCell field(const ValueCell* obj, const char* name) {
        ValueCell w = word(name);
        return *object_select_word(obj, &w);
    }
    static void set_field(ValueCell* obj, const char* name, const ValueCell& v) {
        ValueCell* w = stack_push_cell();
        *w = word(name);
        ValueCell* val = stack_push(&v);
        object_eval_path(obj, w, val, nullptr, nullptr, nullptr, 0, false, false, true, false);
        stack_pop(2);
    }
    static ValueCell reflect(const ValueCell& v, const char* field) {
        stack_mark_native(g_words.n.body);
        ValueCell* held = stack_push(&v);
        action_reflect_dispatch(held, symbol_make(field));
        ValueCell r = *stack_result();
        stack_unwind();
        stack_pop(1);
        return r;
    }

    // ---- errors --------------------------------------------------------------------------------------
    // Runs f under a try frame and answers the error! value it raised.
    template <class F>
    static ValueCell caught(F f) {
        StackMark mark;
        stack_mark_try(nullptr);
        try {
            f();
        } catch (const ThrowSignal& s) {
            ValueCell err = g_stack.top > g_stack.bottom ? *(g_stack.top - 1) : g_none_cell;
            mark.restore();
            cycles_reset();
            EXPECT_EQ(s.code, THROW_ERROR);
            EXPECT_EQ(err.type(), TYPE_ERROR);
            // The error stays on the data stack, where the collector sees it.
            stack_push(&err);
            return err;
        }
        mark.restore();
        ADD_FAILURE() << "no error was raised";
        return g_none_cell;
    }
    static std::string id_of(const ValueCell& err) {
        return err.type() == TYPE_ERROR ? symbol_to_cstr(error_get_id(&err)) : "";
    }

private:
    static bool delim(char c) {
        return c == 0 || std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' ||
               c == '(' || c == ')' || c == '"';
    }
    static void read_into(ValueCell* b, const std::string& s, size_t& pos, char close) {
        bool nl = false;
        while (pos < s.size()) {
            char c = s[pos];
            if (c == '\n') nl = true;
            if (std::isspace(static_cast<unsigned char>(c))) {
                pos++;
                continue;
            }
            if (c == close) {
                pos++;
                return;
            }
            ValueCell v;
            if (c == '[' || c == '(') {
                pos++;
                ValueCell* inner = block_push_new(8);
                read_into(inner, s, pos, c == '[' ? ']' : ')');
                if (c == '(') cell_set_type(inner, TYPE_PAREN);
                v = *inner;
                stack_pop(1);
            } else if (c == '"') {
                size_t end = s.find('"', pos + 1);
                std::string t = s.substr(pos + 1, end - pos - 1);
                pos = end + 1;
                string_load(t.data(), static_cast<u32>(t.size()), &v, 0);
            } else {
                size_t start = pos;
                while (!delim(s[pos])) pos++;
                std::string t = s.substr(start, pos - start);
                bool digits = !t.empty() && (std::isdigit(static_cast<unsigned char>(t[0])) ||
                                             (t[0] == '-' && t.size() > 1 &&
                                              std::isdigit(static_cast<unsigned char>(t[1]))));
                if (digits) {
                    integer_box(&v, std::stoi(t));
                } else if (t[0] == ':') {
                    v = word(t.substr(1).c_str(), TYPE_GET_WORD);
                } else if (t[0] == '\'') {
                    v = word(t.substr(1).c_str(), TYPE_LIT_WORD);
                } else if (t[0] == '/') {
                    v = word(t.substr(1).c_str(), TYPE_REFINEMENT);
                } else if (t.back() == ':') {
                    v = word(t.substr(0, t.size() - 1).c_str(), TYPE_SET_WORD);
                } else {
                    v = word(t.c_str());
                }
            }
            if (nl) v.header |= CELL_NEW_LINE;
            nl = false;
            // Appending may grow the block and collect: the value waits on
            // the data stack (an inner block takes the slot it was read in).
            ValueCell* held = stack_push(&v);
            block_append_cell(b, held);
            stack_pop(1);
        }
    }

    // The stand-in evaluator.
    static ValueCell eval_value(ValueCell* block, i32& i) {
        ValueCell c = block_head_ptr(block)[i++];
        switch (c.type()) {
            case TYPE_LIT_WORD:
                c.set_type(TYPE_WORD);
                return c;
            case TYPE_GET_WORD:
                return *context_get(&c);
            case TYPE_WORD: {
                std::string name = symbol_to_cstr(c.data2);
                if (name == "none") return g_none_cell;
                if (name == "true") return g_true_cell;
                if (name == "false") return g_false_cell;
                if (name == "func") {
                    ValueCell* spec = block_push_new(2);
                    block_append_cell(spec, block_head_ptr(block) + i);
                    block_append_cell(spec, block_head_ptr(block) + i + 1);
                    i += 2;
                    ValueCell f = *function_make(spec, spec, TYPE_FUNCTION);
                    stack_pop(2);
                    return f;
                }
                return *context_get(&c);
            }
            default:
                c.header &= ~CELL_NEW_LINE;
                return c;
        }
    }
    static void eval_block(ValueCell* block) {
        ValueCell* b = stack_push(block);
        // The last value stays on the data stack until it is the result.
        ValueCell* last = stack_push(&g_unset_cell);
        i32 i = 0;
        while (i < block_length(b)) {
            std::vector<ValueCell> targets;
            while (i < block_length(b) && block_head_ptr(b)[i].type() == TYPE_SET_WORD)
                targets.push_back(block_head_ptr(b)[i++]);
            ValueCell* v = stack_push_cell();
            *v = i < block_length(b) ? eval_value(b, i) : g_unset_cell;
            for (ValueCell& t : targets) context_set(&t, v);
            *last = *v;
            stack_pop(1);
        }
        *b = *last;
        stack_pop(1);
    }
    // Records the frame of a handler call and leaves unset as its result.
    static void record_call(ValueCell* fn, Node, ValueCell* name, u32 callback) {
        HandlerCall c;
        c.name = symbol_to_cstr(name->data2);
        c.callback = callback;
        std::vector<ValueCell> cells(g_stack.base, g_stack.top);
        for (ValueCell& v : cells) c.args.push_back(mold(v));
        EXPECT_EQ(fn->type(), TYPE_FUNCTION);
        calls().push_back(c);
        unset_box(stack_result());
    }
};

}  // namespace zan::test
