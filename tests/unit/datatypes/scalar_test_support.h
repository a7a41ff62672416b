// Helpers for the tests of the scalar datatypes (time!, date!, money!,
// pair!, the points, tuple!, handle!): value builders, path and pick calls,
// stand-ins for the services of later layers (lexer scan, random
// generator, change reports) and a minimal system object.
#pragma once
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "number_test_support.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"

namespace zan::test {

inline ValueCell TM(double seconds) {
    ValueCell c;
    time_box(&c, seconds);
    return c;
}
inline ValueCell PR(i32 x, i32 y) {
    ValueCell c;
    cell_init(&c, TYPE_PAIR);
    return *pair_make_at(&c, x, y);
}
inline ValueCell P2(float x, float y) {
    ValueCell c;
    cell_init(&c, TYPE_POINT2D);
    return *point2d_make_at(&c, x, y);
}
inline ValueCell P3(float x, float y, float z) {
    ValueCell c;
    cell_init(&c, TYPE_POINT3D);
    return *point3d_make_at(&c, x, y, z);
}
inline ValueCell TU(std::initializer_list<int> bytes) {
    u8 b[12] = {};
    u32 n = 0;
    for (int v : bytes) b[n++] = static_cast<u8>(v);
    ValueCell c;
    cell_init(&c, TYPE_TUPLE);
    return *tuple_make_at(&c, b, n);
}
// A date without time.
inline ValueCell DAY(i32 y, i32 m, i32 d) {
    ValueCell c;
    EXPECT_TRUE(date_make_at(&c, y, m, d, 0.0, 0, 0, false));
    return c;
}
// A date with a local time and a zone in minutes east of UTC.
inline ValueCell DTM(i32 y, i32 m, i32 d, i32 h, i32 mi, double s, i32 zone_minutes = 0) {
    ValueCell c;
    EXPECT_TRUE(date_make_at(&c, y, m, d, h * 3600.0 + mi * 60.0 + s, zone_minutes / 60,
                             zone_minutes % 60, true));
    return c;
}
// A money! from a plain decimal text ("-12.5"), with an optional currency.
inline ValueCell MONEY(const std::string& text, const char* currency = nullptr) {
    bool negative = !text.empty() && text[0] == '-';
    std::string digits = negative ? text.substr(1) : text;
    ValueCell cur;
    if (currency) {
        word_make_at(symbol_make(currency), &cur);
    }
    ValueCell c;
    cell_init(&c, TYPE_MONEY);
    const u8* p = reinterpret_cast<const u8*>(digits.data());
    EXPECT_TRUE(money_make_at(&c, negative, currency ? &cur : nullptr, p, p + digits.size(), 1))
        << text;
    return c;
}

class ScalarTest : public NumberTest {
protected:
    void SetUp() override {
        saved_services_ = g_services;
        NumberTest::SetUp();
    }
    void TearDown() override {
        g_services = saved_services_;
        NumberTest::TearDown();
    }

    // ---- pick and paths ------------------------------------------------------------------
    // Each leaves the data stack as it found it, so that a test may call
    // them in a loop of any length.
    static ValueCell pick(const ValueCell& v, const ValueCell& index) {
        ValueCell* mark = g_stack.top;
        ValueCell* s = stack_push(&v);
        ValueCell* i = stack_push(&index);
        ValueCell r = *action_pick_dispatch(s, 0, i);
        g_stack.top = mark;
        return r;
    }
    static ValueCell path_get(const ValueCell& v, const ValueCell& element) {
        ValueCell* mark = g_stack.top;
        ValueCell* s = stack_push(&v);
        ValueCell* e = stack_push(&element);
        ValueCell r = *action_eval_path_dispatch(s, e, nullptr, nullptr, nullptr, nullptr, -1,
                                                 false, false, true, false);
        g_stack.top = mark;
        return r;
    }
    // Sets the field in place and answers the changed value.
    static ValueCell path_set(const ValueCell& v, const ValueCell& element, const ValueCell& value) {
        ValueCell* mark = g_stack.top;
        ValueCell* s = stack_push(&v);
        ValueCell* e = stack_push(&element);
        ValueCell* nv = stack_push(&value);
        action_eval_path_dispatch(s, e, nv, nullptr, nullptr, nullptr, -1, false, false, true,
                                  false);
        ValueCell r = *s;
        g_stack.top = mark;
        return r;
    }
    static ValueCell W(const char* name) { return word(name); }
    static ValueCell NEG(const ValueCell& v) { return call({v}, action_negate); }
    static ValueCell ABS(const ValueCell& v) { return call({v}, action_absolute); }

    // ---- stand-ins for later layers ----------------------------------------------------------
    // The lexer scan answers a block holding one given value.
    static inline ValueCell scan_result_;
    static void fake_scan(ValueCell*, ValueCell* dest, i32, i32* consumed) {
        ValueCell* b = block_push_new(1);
        block_append_cell(b, &scan_result_);
        *dest = *b;
        stack_pop(1);
        *consumed = 0;
    }
    static ValueCell scan_as(const ValueCell& scanned) {
        scan_result_ = scanned;
        g_services.lexer_scan_string = fake_scan;
        return scanned;
    }
    // A string of length 0 so that the fake scan consumes all of it.
    static ValueCell empty_text() { return *str(""); }

    // Deterministic random draws: a counter.
    static inline u32 random_counter_ = 0;
    static inline u32 last_seed_ = 0;
    static void install_random() {
        random_counter_ = 0;
        g_services.random_seed = [](u32 s) { last_seed_ = s; };
        g_services.random_next = [] { return random_counter_++ * 7919u % 2147483647u; };
        g_services.random_secure_next = [] { return random_counter_++ * 104729u % 2147483647u; };
        g_services.random_int = [](i32 n, bool) -> i32 {
            if (n == 0) return 0;
            i32 m = n < 0 ? -n : n;
            i32 r = static_cast<i32>(random_counter_++ % static_cast<u32>(m)) + 1;
            return n < 0 ? -r : r;
        };
    }

    // ---- a minimal system object -----------------------------------------------------------
    static ValueCell* new_object() {
        ValueCell* o = stack_push_cell();
        object_make_at(o, 4);
        return o;
    }
    static void put(ValueCell* obj, const char* name, const ValueCell& value) {
        ValueCell w = word(name), v = value;
        i32 pos = context_add_word(context_cell(obj->data1), &w);
        context_values_head(context_cell(obj->data1))[pos] = v;
    }
    static void set_global(u32 symbol, const ValueCell& value) {
        ValueCell* slot = global_value_ptr(symbol);
        if (!slot) {
            context_add_global(symbol, true, false);
            slot = global_value_ptr(symbol);
        }
        *slot = value;
    }
    // system/locale/currencies/list, system/locale/months (when given) and
    // system/options/money-digits (when >= 0).
    static void install_system(std::initializer_list<const char*> currencies,
                               std::initializer_list<const char*> months = {},
                               i32 money_digits = -1) {
        ValueCell* list = block_push_new(static_cast<u32>(currencies.size()));
        for (const char* c : currencies) {
            ValueCell w = word(c);
            block_append_cell(list, &w);
        }
        ValueCell* cur = new_object();
        put(cur, "list", *list);
        ValueCell* locale = new_object();
        put(locale, "currencies", *cur);
        if (months.size()) {
            ValueCell* mb = block_push_new(12);
            for (const char* m : months) block_append_cell(mb, str(m));
            put(locale, "months", *mb);
        }
        ValueCell* options = new_object();
        if (money_digits >= 0) put(options, "money-digits", I(money_digits));
        ValueCell* sys = new_object();
        put(sys, "locale", *locale);
        put(sys, "options", *options);
        set_global(g_sym.system, *sys);
    }

    // ---- oracle tables ---------------------------------------------------------------------
    // The rows of a table in the test data directory, split at tabs; rows
    // starting with "#" are skipped.
    static std::vector<std::vector<std::string>> read_table(const char* file) {
        std::vector<std::vector<std::string>> rows;
        const char* dir = std::getenv("ZAN_TEST_DATA");
        std::string path = std::string(dir ? dir : "tests/data") + "/" + file;
        std::ifstream in(path);
        EXPECT_TRUE(in.good()) << "cannot read " << path;
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> f;
            std::stringstream ss(line);
            std::string cell;
            while (std::getline(ss, cell, '\t')) f.push_back(cell);
            rows.push_back(f);
        }
        return rows;
    }

private:
    DatatypeServices saved_services_;
};

}  // namespace zan::test
