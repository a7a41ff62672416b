// Shared helpers of the search, sort, trim, set-operation and hash! tests:
// a small reader for test blocks, strings of a chosen unit width, calls of
// find, select and sort with refinements given by name, and a stand-in for
// the interpreter's function call that runs C++ comparators.
#pragma once
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dt_test_support.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string_search.h"
#include "runtime/datatypes/typeset.h"

namespace zan::test {

// Refinements of find and select; an absent optional is an absent refinement.
struct Find {
    std::optional<i32> part = std::nullopt, skip = std::nullopt;
    bool only = false, case_ = false, same = false, last = false, reverse = false, tail = false,
         match = false;
};

// Refinements of sort.
struct Sort {
    bool case_ = false, all = false, reverse = false, stable = false;
    std::optional<i32> skip = std::nullopt, part = std::nullopt, offset = std::nullopt;
    const ValueCell* comparator = nullptr;  // a function!
};

class SearchTest : public DtTest {
protected:
    void SetUp() override {
        DtTest::SetUp();
        g_interp_hooks = InterpHooks{};
    }
    void TearDown() override {
        g_interp_hooks = InterpHooks{};
        comparator() = nullptr;
        set_collect_stress(false);
        DtTest::TearDown();
    }

    // ---- the reader --------------------------------------------------------------------------
    // Reads values into a block pushed on the data stack: [ ] blocks,
    // ( ) parens, "strings", integers, decimals (float!), #"c" chars, #none,
    // words, 'lit-words, /refinements and set-words:.
    static ValueCell* B(const std::string& src, u32 type = TYPE_BLOCK) {
        size_t pos = 0;
        ValueCell* b = block_push_new(8);
        read_into(b, src, pos, '\0');
        cell_set_type(b, type);
        return b;
    }
    // The value of one token (a block for "[...]").
    static ValueCell V(const std::string& src) {
        ValueCell* b = B(src);
        ValueCell v = *block_head_ptr(b);
        return v;
    }

    // A string of the given unit width (its text fits the width).
    static ValueCell* S(const std::string& utf8, u32 unit = 1, u32 type = TYPE_STRING) {
        ValueCell* s = str(utf8);
        SeriesBuffer* b = series_of(s);
        if (b->unit() < unit) unicode_widen(b, unit);
        cell_set_type(s, type);
        return s;
    }
    static u32 unit_of(const ValueCell* s) { return series_of(s)->unit(); }

    // ---- calls ---------------------------------------------------------------------------------
    static ValueCell* icell(std::optional<i32> v, ValueCell* slot) {
        if (!v) return nullptr;
        dt::int_box(slot, *v);
        return slot;
    }
    // find: the index of the answer, or -1 for none.
    static i32 find(ValueCell* series, const ValueCell& value, const Find& f = {}) {
        ValueCell v = value, part, skip;
        ValueCell* r =
            action_find_dispatch(series, &v, icell(f.part, &part), f.only, f.case_, f.same, false,
                                 nullptr, icell(f.skip, &skip), f.last, f.reverse, f.tail, f.match);
        if (r->type() == TYPE_NONE) return -1;
        EXPECT_EQ(r->type(), series->type());
        EXPECT_EQ(r->data2, series->data2);
        return series_index(r);
    }
    static ValueCell select(ValueCell* series, const ValueCell& value, const Find& f = {}) {
        ValueCell v = value, part, skip;
        ValueCell* r =
            action_select_dispatch(series, &v, icell(f.part, &part), f.only, f.case_, f.same, false,
                                   nullptr, icell(f.skip, &skip), f.last, f.reverse);
        return *r;
    }
    static ValueCell* sort(ValueCell* series, const Sort& o = {}) {
        ValueCell skip, part, off;
        ValueCell cmp = o.comparator ? *o.comparator : ValueCell{};
        ValueCell* cmp_cell = o.comparator ? &cmp : icell(o.offset, &off);
        ValueCell* r = action_sort_dispatch(series, o.case_, icell(o.skip, &skip), cmp_cell,
                                            icell(o.part, &part), o.all, o.reverse, o.stable);
        return r;
    }
    static void trim(ValueCell* series, bool head = false, bool tail = false, bool lines = false,
                     bool all = false, ValueCell* with = nullptr, bool auto_ = false) {
        stack_mark_native(g_words.n.body);
        ValueCell* s = stack_push(series);
        action_trim_dispatch(s, head, tail, auto_, lines, all, with);
        stack_unwind();
        stack_pop(1);
    }

    // ---- user comparators -----------------------------------------------------------------------
    // A function! value whose calls run the C++ comparator installed with
    // use_comparator (the stand-in interpreter reads the two arguments from
    // the frame and writes the answer into its result cell).
    using Comparator = std::function<void(const ValueCell& a, const ValueCell& b, ValueCell* out)>;
    static Comparator*& comparator() {
        static Comparator* c = nullptr;
        return c;
    }
    static ValueCell* make_function(const char* spec_src = "a b") {
        ValueCell* spec = B(spec_src);
        ValueCell* body = B("");
        function_create(spec, body, 0, 0, 0, 0);
        ValueCell fn = *stack_top_value();
        stack_pop(3);
        return stack_push(&fn);
    }
    static void use_comparator(Comparator* c) {
        comparator() = c;
        g_interp_hooks.call_function = [](ValueCell*, Node, ValueCell*, u32) {
            // The collector is kept off for the whole sort.
            EXPECT_FALSE(g_gc.enabled);
            ValueCell a = *stack_arg(0), b = *stack_arg(1);
            (*comparator())(a, b, stack_result());
        };
    }

    // ---- ownership announcements ----------------------------------------------------------
    // Records the action words announced for series whose buffer is marked
    // owned, answering that an owner exists.
    static std::vector<std::string>& announced() {
        static std::vector<std::string> a;
        return a;
    }
    struct AnnounceRecorder {
        bool (*saved)(ValueCell*, ValueCell*, ValueCell*, i32, i32);
        explicit AnnounceRecorder(ValueCell* series) : saved(g_services.ownership_check) {
            announced().clear();
            series_of(series)->flags |= SERIES_OWNED;
            g_services.ownership_check = [](ValueCell*, ValueCell* word, ValueCell*, i32, i32) {
                announced().push_back(symbol_to_cstr(word->data2));
                return true;
            };
        }
        ~AnnounceRecorder() { g_services.ownership_check = saved; }
    };

    // ---- text of values
    // --------------------------------------------------------------------------
    static std::string M(const ValueCell* v) { return mold(*v); }
    static std::string MV(const ValueCell& v) { return mold(v); }

private:
    static void skip_space(const std::string& s, size_t& p) {
        while (p < s.size() && std::isspace(static_cast<unsigned char>(s[p])))
            p++;
    }
    static void read_into(ValueCell* b, const std::string& s, size_t& p, char close) {
        for (;;) {
            skip_space(s, p);
            if (p >= s.size()) return;
            char c = s[p];
            if (c == close) {
                p++;
                return;
            }
            ValueCell v;
            if (c == '[' || c == '(') {
                p++;
                ValueCell* inner = block_push_new(4);
                read_into(inner, s, p, c == '[' ? ']' : ')');
                v = *inner;
                if (c == '(') cell_set_type(&v, TYPE_PAREN);
                block_append_cell(b, &v);
                stack_pop(1);
                continue;
            }
            if (c == '"') {
                size_t e = s.find('"', p + 1);
                ValueCell* t = str(s.substr(p + 1, e - p - 1));
                v = *t;
                block_append_cell(b, &v);
                stack_pop(1);
                p = e + 1;
                continue;
            }
            size_t e = p;
            while (e < s.size() && !std::isspace(static_cast<unsigned char>(s[e])) && s[e] != ']' &&
                   s[e] != ')')
                e++;
            std::string tok = s.substr(p, e - p);
            p = e;
            if (tok.size() > 3 && tok[0] == '#' && tok[1] == '"') {
                ValueCell* t = str(tok.substr(2, tok.size() - 3));
                dt::char_box(&v, string_char_at(t, 0));
                stack_pop(1);
            } else if (tok == "#none") {
                cell_init(&v, TYPE_NONE);
            } else if (std::isdigit(static_cast<unsigned char>(tok[0])) ||
                       (tok[0] == '-' && tok.size() > 1)) {
                if (tok.find('.') != std::string::npos) float_make_at(&v, std::stod(tok));
                else dt::int_box(&v, std::stoi(tok));
            } else if (tok[0] == '/' && tok.size() > 1) {
                v = word(tok.substr(1).c_str(), TYPE_REFINEMENT);
            } else if (tok[0] == '\'') {
                v = word(tok.substr(1).c_str(), TYPE_LIT_WORD);
            } else if (tok.back() == ':') {
                v = word(tok.substr(0, tok.size() - 1).c_str(), TYPE_SET_WORD);
            } else {
                v = word(tok.c_str());
            }
            block_append_cell(b, &v);
        }
    }
};

}  // namespace zan::test
