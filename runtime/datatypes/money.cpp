// money!: the packed decimal layout, exact arithmetic, conversions from
// and to numbers, rounding, random amounts, currencies and the text forms.
//
// Amounts are read from their 22 digits into an unsigned 128-bit count of
// hundred-thousandths (at most 10^22 - 1) for the arithmetic and written
// back digit by digit, so every result is exact and no float takes part.
#include "runtime/datatypes/money.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

using u128 = unsigned __int128;

constexpr u128 pow10(int n) {
    u128 v = 1;
    for (int i = 0; i < n; i++) v *= 10;
    return v;
}
constexpr u128 kUnit = pow10(MONEY_FRACTION_DIGITS);  // one whole unit
constexpr u128 kLimit = pow10(MONEY_DIGITS);          // first amount too big

// A signed amount in hundred-thousandths.
struct Amount {
    u128 mag = 0;
    bool neg = false;
};

constexpr i32 kFirstDigitByte = 5;

u8* cell_bytes(ValueCell* c) { return reinterpret_cast<u8*>(c); }
const u8* cell_bytes(const ValueCell* c) { return reinterpret_cast<const u8*>(c); }

u128 magnitude_of(const ValueCell* m) {
    const u8* b = cell_bytes(m) + kFirstDigitByte;
    u128 v = 0;
    for (i32 i = 0; i < MONEY_DIGIT_BYTES; i++) {
        v = v * 10 + (b[i] >> 4);
        v = v * 10 + (b[i] & 0xF);
    }
    return v;
}

void put_magnitude(ValueCell* m, u128 v) {
    u8* b = cell_bytes(m) + kFirstDigitByte;
    for (i32 i = MONEY_DIGIT_BYTES - 1; i >= 0; i--) {
        u32 low = static_cast<u32>(v % 10);
        v /= 10;
        u32 high = static_cast<u32>(v % 10);
        v /= 10;
        b[i] = static_cast<u8>((high << 4) | low);
    }
}

Amount amount_of(const ValueCell* m) { return Amount{magnitude_of(m), money_sign_q(m)}; }

// A fresh money! cell (no new-line marker) holding the amount.
ValueCell* money_write(ValueCell* cell, const Amount& a, u32 currency) {
    cell_init(cell, TYPE_MONEY);
    money_set_sign(cell, a.neg);
    money_set_currency(cell, currency);
    put_magnitude(cell, a.mag);
    return cell;
}

[[noreturn]] void money_limit() { number_fire_type(Err::script_type_limit, TYPE_MONEY); }

[[noreturn]] void bad_make_arg(const ValueCell* value) {
    ValueCell dt;
    datatype_box(&dt, TYPE_MONEY);
    fire(Err::script_bad_make_arg, &dt, value);
}

Amount amount_from_integer(i32 n) {
    i64 v = n;
    Amount a;
    a.neg = v < 0;
    a.mag = static_cast<u128>(v < 0 ? -v : v) * kUnit;
    return a;
}

enum class FloatFit { ok, special, too_small, too_big, too_precise };

// The amount of a float, its fraction cut after five digits unless strict.
FloatFit amount_from_float(double x, bool strict, Amount* out) {
    if (!std::isfinite(x)) return FloatFit::special;
    if (money_float_too_small_q(x)) return FloatFit::too_small;
    if (money_float_too_big_q(x)) return FloatFit::too_big;
    Amount a;
    a.neg = std::signbit(x);
    if (x != 0.0) {
        int point = 0, sign = 0, count = 0;
        const char* digits = dtoa_float_to_digits(x, 22, &point, &sign, &count, false);
        if (strict && count - point > MONEY_FRACTION_DIGITS) return FloatFit::too_precise;
        for (int i = 0; i < count; i++) {
            int weight = point - 1 - i + MONEY_FRACTION_DIGITS;
            if (weight < 0) break;
            a.mag += static_cast<u128>(digits[i] - '0') * pow10(weight);
        }
    }
    if (a.mag == 0) a.neg = false;
    *out = a;
    return FloatFit::ok;
}

Amount amount_from_float_or_fire(double x, bool strict) {
    Amount a;
    if (amount_from_float(x, strict, &a) != FloatFit::ok) {
        ValueCell f;
        float_make_at(&f, x);
        bad_make_arg(&f);
    }
    return a;
}

i32 sign_of(const Amount& a) { return a.mag == 0 ? 0 : a.neg ? -1 : 1; }

i32 compare_amounts(const Amount& a, const Amount& b) {
    i32 sa = sign_of(a), sb = sign_of(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    if (sa == 0) return 0;
    i32 m = a.mag < b.mag ? -1 : a.mag > b.mag ? 1 : 0;
    return sa > 0 ? m : -m;
}

Amount add_amounts(const Amount& a, const Amount& b) {
    if (a.mag == 0) return b;
    if (b.mag == 0) return a;
    Amount r;
    if (a.neg == b.neg) {
        r.mag = a.mag + b.mag;
        if (r.mag >= kLimit) money_limit();
        r.neg = a.neg;
        return r;
    }
    if (a.mag >= b.mag) {
        r.mag = a.mag - b.mag;
        r.neg = a.neg;
    } else {
        r.mag = b.mag - a.mag;
        r.neg = b.neg;
    }
    if (r.mag == 0) r.neg = false;
    return r;
}

Amount negated(Amount a) {
    a.neg = !a.neg;
    return a;
}

Amount subtract_amounts(const Amount& a, const Amount& b) {
    if (b.mag == 0) return a;
    return add_amounts(a, negated(b));
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
    if (a.mag == 0) return a;
    if (b.mag == 0) return b;
    u128 p;
    if (__builtin_mul_overflow(a.mag, b.mag, &p)) money_limit();
    Amount r;
    r.mag = p / kUnit;  // the five lowest fraction digits are dropped
    if (r.mag >= kLimit) money_limit();
    r.neg = a.neg != b.neg;
    if (r.mag == 0) r.neg = false;
    return r;
}

Amount divide_amounts(const Amount& a, const Amount& b, bool remainder) {
    if (b.mag == 0) fire(Err::math_zero_divide);
    if (a.mag == 0) return a;
    Amount r;
    if (remainder) {
        r.mag = a.mag % b.mag;
        r.neg = a.neg;
    } else {
        // a < 10^22 and 10^22 x 10^5 < 2^128: no overflow here.
        r.mag = a.mag * kUnit / b.mag;
        if (r.mag >= kLimit) money_limit();
        r.neg = a.neg != b.neg;
    }
    if (r.mag == 0) r.neg = false;
    return r;
}

// Decimal text of the amount with five fraction digits: "-123.45000".
std::string amount_text(const Amount& a) {
    char digits[48];
    int n = 0;
    u128 v = a.mag;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v);
    while (n <= MONEY_FRACTION_DIGITS) digits[n++] = '0';
    std::string s;
    if (a.neg && a.mag != 0) s += '-';
    for (int i = n - 1; i >= 0; i--) {
        s += digits[i];
        if (i == MONEY_FRACTION_DIGITS) s += '.';
    }
    return s;
}

double amount_to_float(const Amount& a) {
    std::string s = amount_text(a);
    int unread = 0;
    return dtoa_text_to_float(s.data(), s.data() + s.size(), 0, &unread);
}

}  // namespace

// ---- digits and cells ----------------------------------------------------------------

u32 money_digit(const ValueCell* m, i32 position) {
    u8 b = cell_bytes(m)[kFirstDigitByte + (position - 1) / 2];
    return ((position - 1) % 2 == 0) ? (b >> 4) : (b & 0xFu);
}

void money_set_digit(ValueCell* m, i32 position, u32 digit) {
    u8* b = cell_bytes(m) + kFirstDigitByte + (position - 1) / 2;
    if ((position - 1) % 2 == 0) *b = static_cast<u8>((*b & 0x0F) | ((digit & 0xF) << 4));
    else *b = static_cast<u8>((*b & 0xF0) | (digit & 0xF));
}

i32 money_significant_digits(const ValueCell* m) {
    for (i32 p = 1; p <= MONEY_DIGITS; p++)
        if (money_digit(m, p) != 0) return MONEY_DIGITS - p + 1;
    return 1;
}

bool money_zero_q(const ValueCell* m) { return magnitude_of(m) == 0; }
i32 money_sign(const ValueCell* m) { return sign_of(amount_of(m)); }

ValueCell* money_make_raw(ValueCell* cell, bool negative, u32 currency,
                          const u8 (&digits)[MONEY_DIGIT_BYTES]) {
    cell_init(cell, TYPE_MONEY);
    money_set_sign(cell, negative);
    money_set_currency(cell, currency);
    std::memcpy(cell_bytes(cell) + kFirstDigitByte, digits, MONEY_DIGIT_BYTES);
    return cell;
}

bool money_make_at(ValueCell* cell, bool negative, const ValueCell* currency, const u8* start,
                   const u8* end, u32 unit) {
    u32 index = 0;
    if (currency) {
        i32 i = money_currency_index(currency);
        if (i < 1 || i > 255) return false;
        index = static_cast<u32>(i);
    }
    size_t count = static_cast<size_t>(end - start) / unit;
    size_t point = count;
    for (size_t i = 0; i < count; i++)
        if (string_get_char(start + i * unit, unit) == '.') {
            point = i;
            break;
        }
    ValueCell m;
    cell_init(&m, TYPE_MONEY);
    i32 pos = MONEY_INT_DIGITS;
    for (size_t i = point; i-- > 0 && pos >= 1;) {
        u32 c = string_get_char(start + i * unit, unit);
        if (c < '0' || c > '9') continue;
        money_set_digit(&m, pos--, c - '0');
    }
    pos = MONEY_INT_DIGITS + 1;
    for (size_t i = point + 1; i < count && pos <= MONEY_DIGITS; i++) {
        u32 c = string_get_char(start + i * unit, unit);
        if (c < '0' || c > '9') continue;
        money_set_digit(&m, pos++, c - '0');
    }
    money_set_sign(&m, negative);
    money_set_currency(&m, index);
    u32 nl = cell->header & CELL_NEW_LINE;
    *cell = m;
    cell->header |= nl;
    return true;
}

// ---- currencies ----------------------------------------------------------------------

namespace {
ValueCell* currency_list() {
    ValueCell* list = system_setting({"locale", "currencies", "list"});
    if (!list || !type_block_like(list->type())) return nullptr;
    return list;
}
}  // namespace

i32 money_currency_index(const ValueCell* word) {
    u32 key = scalar_word_key(word);
    if (key == 0) return -1;
    ValueCell* list = currency_list();
    if (!list) return -1;
    i32 n = block_length(list);
    ValueCell* v = block_head_ptr(list);
    for (i32 i = 0; i < n; i++)
        if (scalar_word_key(&v[i]) == key) return i + 1;
    return -1;
}

const ValueCell* money_currency_at(u32 index) {
    ValueCell* list = currency_list();
    if (!list || index < 1 || static_cast<i32>(index) > block_length(list)) return nullptr;
    const ValueCell* w = block_head_ptr(list) + (index - 1);
    return any_word_type_q(w->type()) ? w : nullptr;
}

ValueCell* money_currency_word(const ValueCell* m) {
    u32 c = money_currency_of(m);
    const ValueCell* w = c ? money_currency_at(c) : nullptr;
    if (!w) return none_push();
    ValueCell word = *w;
    cell_set_type(&word, TYPE_WORD);
    cell_clear_new_line(&word);
    return stack_push(&word);
}

// ---- conversions ---------------------------------------------------------------------

bool money_float_too_big_q(double x) { return std::fabs(x) >= 1e17; }
bool money_float_too_small_q(double x) { return x != 0.0 && std::fabs(x) < 1e-5; }

ValueCell* money_from_integer(ValueCell* out, i32 n) {
    return money_write(out, amount_from_integer(n), 0);
}

ValueCell* money_from_float(ValueCell* out, double x, bool strict) {
    return money_write(out, amount_from_float_or_fire(x, strict), 0);
}

double money_to_float(const ValueCell* m) { return amount_to_float(amount_of(m)); }

i32 money_to_integer(const ValueCell* m) {
    Amount a = amount_of(m);
    u128 whole = a.mag / kUnit;
    if (whole > (a.neg ? u128(2147483648u) : u128(2147483647u)))
        number_fire_type(Err::script_type_limit, TYPE_INTEGER);
    i64 v = static_cast<i64>(whole);
    return static_cast<i32>(a.neg ? -v : v);
}

// ---- arithmetic ----------------------------------------------------------------------

namespace {

Amount operand_amount(const ValueCell* v) {
    switch (v->type()) {
        case TYPE_MONEY: return amount_of(v);
        case TYPE_INTEGER: return amount_from_integer(integer_get(v));
        case TYPE_FLOAT:
        case TYPE_PERCENT: return amount_from_float_or_fire(v->get_float(), false);
        default: number_fire_type(Err::script_invalid_type, v->type());
    }
}

}  // namespace

void money_math_op(i32 op) {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    u32 lt = left->type(), rt = right->type();
    bool refused = (op == MATH_MULTIPLY && lt == TYPE_MONEY && rt == TYPE_MONEY) ||
                   ((op == MATH_DIVIDE || op == MATH_REMAINDER) && lt != TYPE_MONEY &&
                    rt == TYPE_MONEY);
    if (refused || op < MATH_ADD || op > MATH_REMAINDER)
        number_fire_type(Err::script_invalid_type, lt);
    Amount a = operand_amount(left);
    Amount b = operand_amount(right);
    u32 ca = lt == TYPE_MONEY ? money_currency_of(left) : 0;
    u32 cb = rt == TYPE_MONEY ? money_currency_of(right) : 0;
    if (ca && cb && ca != cb) {
        ValueCell x = *left, y = *right;
        fire(Err::script_wrong_denom, &x, &y);
    }
    u32 currency = cb ? cb : ca;
    Amount r;
    switch (op) {
        case MATH_ADD: r = add_amounts(a, b); break;
        case MATH_SUBTRACT: r = subtract_amounts(a, b); break;
        case MATH_MULTIPLY: r = multiply_amounts(a, b); break;
        case MATH_DIVIDE: r = divide_amounts(a, b, false); break;
        default: r = divide_amounts(a, b, true); break;
    }
    if (op == MATH_DIVIDE && lt == TYPE_MONEY && rt == TYPE_MONEY) {
        float_make_at(left, amount_to_float(r));
        return;
    }
    money_write(left, r, currency);
}

void money_add() { money_math_op(MATH_ADD); }
void money_subtract() { money_math_op(MATH_SUBTRACT); }
void money_multiply() { money_math_op(MATH_MULTIPLY); }
void money_divide() { money_math_op(MATH_DIVIDE); }
void money_remainder() { money_math_op(MATH_REMAINDER); }

void money_absolute() { money_set_sign(stack_arg(0), false); }

void money_negate(ValueCell* value) {
    ValueCell* r = stack_result();
    cell_copy(value, r);
    money_set_sign(r, !money_sign_q(value));
}

bool money_even_q(ValueCell* value) { return money_digit(value, MONEY_INT_DIGITS) % 2 == 0; }
bool money_odd_q(ValueCell* value) { return money_digit(value, MONEY_INT_DIGITS) % 2 == 1; }

// ---- round ---------------------------------------------------------------------------

void money_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling) {
    ValueCell* result = stack_result();
    ValueCell n = *value;
    Amount a = amount_of(&n);
    u128 s = kUnit;
    if (scale) {
        switch (scale->type()) {
            case TYPE_MONEY: s = magnitude_of(scale); break;
            case TYPE_INTEGER: s = amount_from_integer(integer_get(scale)).mag; break;
            case TYPE_FLOAT: s = amount_from_float_or_fire(scale->get_float(), true).mag; break;
            default: number_fire_not_related(stack_calling_word(), scale->type());
        }
    }
    u128 r = s == 0 ? 0 : a.mag % s;
    // Zero, a zero scale, or an exact multiple of the scale: nothing moves.
    if (a.mag == 0 || s == 0 || r == 0) {
        *result = n;
        return;
    }
    u128 d = s - r;
    bool positive = !a.neg;
    bool tie = r * 2 == s;
    bool quotient_even = (a.mag / s) % 2 == 0;
    bool away;
    bool nearest_away = !(r < d);
    if (down) away = false;
    else if (floor) away = !positive;
    else if (ceiling) away = positive;
    else if (even) away = tie ? !quotient_even : nearest_away;
    else if (half_down) away = tie ? false : nearest_away;
    else if (half_ceiling) away = tie ? positive : nearest_away;
    else away = nearest_away;
    Amount out;
    out.neg = a.neg;
    if (away) {
        out.mag = a.mag + d;
        if (out.mag >= kLimit) money_limit();
    } else {
        out.mag = a.mag - r;
    }
    money_write(result, out, money_currency_of(&n));
    result->header |= n.header & CELL_NEW_LINE;
}

// ---- make and to ---------------------------------------------------------------------

namespace {

ValueCell* money_from_text(ValueCell* spec) {
    ValueCell* scanned = unset_push();
    rt_scan_string_value(spec, scanned);
    if (scanned->type() != TYPE_MONEY) number_fire_bad_to_arg(TYPE_MONEY, spec);
    return scanned;
}

ValueCell* money_from_block(ValueCell* spec) {
    i32 n = block_length(spec);
    if (n < 1 || n > 3) bad_make_arg(spec);
    // Copies: looking a currency up may allocate and move the block.
    ValueCell v[3];
    for (i32 k = 0; k < n; k++) v[k] = block_head_ptr(spec)[k];
    i32 i = 0;
    u32 currency = 0;
    if (any_word_type_q(v[0].type())) {
        i32 c = money_currency_index(&v[0]);
        if (c < 1 || c > 255) bad_make_arg(&v[0]);
        currency = static_cast<u32>(c);
        i = 1;
        if (i >= n) bad_make_arg(spec);
    }
    Amount a;
    const ValueCell* amount = &v[i];
    if (amount->type() == TYPE_INTEGER) a = amount_from_integer(integer_get(amount));
    else if (amount->type() == TYPE_FLOAT) a = amount_from_float_or_fire(amount->get_float(), true);
    else bad_make_arg(amount);
    i++;
    if (i < n) {
        const ValueCell* fraction = &v[i];
        if (amount->type() != TYPE_INTEGER || fraction->type() != TYPE_INTEGER)
            bad_make_arg(fraction);
        i32 f = integer_get(fraction);
        if (f < 0 || f > 99999) bad_make_arg(fraction);
        a.mag += static_cast<u128>(f);
        if (a.mag >= kLimit) money_limit();
        i++;
    }
    if (i != n) bad_make_arg(&v[i]);
    return money_write(stack_push_cell(), a, currency);
}

}  // namespace

ValueCell* money_to(ValueCell*, ValueCell* spec, u32) {
    u32 t = spec->type();
    switch (t) {
        case TYPE_MONEY: return stack_push(spec);
        case TYPE_INTEGER: return money_from_integer(stack_push_cell(), integer_get(spec));
        case TYPE_FLOAT: return money_from_float(stack_push_cell(), spec->get_float(), true);
        default:
            if (type_string_like(t)) return money_from_text(spec);
            number_fire_bad_to_arg(TYPE_MONEY, spec);
    }
}

ValueCell* money_make(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 t = spec->type();
    if (t == TYPE_WORD || t == TYPE_LIT_WORD) {
        i32 c = money_currency_index(spec);
        if (c < 1 || c > 255) bad_make_arg(spec);
        return money_write(stack_push_cell(), Amount{}, static_cast<u32>(c));
    }
    if (t == TYPE_BLOCK) return money_from_block(spec);
    return money_to(proto, spec, type);
}

// ---- random --------------------------------------------------------------------------

void money_random(ValueCell* value, bool seed, bool secure, bool) {
    if (seed) {
        g_services.random_seed(payload_word(value, 1) ^ payload_word(value, 2) ^ payload_word(value, 3) ^
                               (value->header & MONEY_SIGN));
        unset_set_result();
        return;
    }
    auto next = [secure]() -> u32 {
        if (secure) {
            return g_services.random_secure_next();
        }
        return g_services.random_next();
    };
    ValueCell r = *value;
    i32 first = MONEY_DIGITS - money_significant_digits(&r) + 1;
    bool bounded = true;
    for (i32 p = first; p <= MONEY_DIGITS; p++) {
        u32 bound = money_digit(&r, p);
        u32 g;
        if (!bounded) {
            g = next() % 10;
        } else {
            // A draw equal to the bound is kept only rarely, so that the
            // amount itself stays as likely as any one below it.
            for (;;) {
                g = next() % (bound + 1);
                if (g != bound) break;
                if (next() % 1000 == next() % 1000) break;
            }
            if (g < bound) bounded = false;
        }
        money_set_digit(&r, p, g);
    }
    *stack_result() = r;
}

// ---- text ----------------------------------------------------------------------------

i32 money_form_body(const ValueCell* m, ValueCell* out, i32 limit, bool all, bool group) {
    std::string s;
    Amount a = amount_of(m);
    if (a.neg && a.mag != 0) s += '-';
    if (u32 c = money_currency_of(m)) {
        if (const ValueCell* w = money_currency_at(c)) s += symbol_to_cstr(word_symbol(w));
    }
    s += '$';
    i32 first = 1;
    while (first < MONEY_INT_DIGITS && money_digit(m, first) == 0) first++;
    for (i32 p = first; p <= MONEY_INT_DIGITS; p++) {
        s += static_cast<char>('0' + money_digit(m, p));
        i32 left = MONEY_INT_DIGITS - p;  // digits still to come before the units
        if (group && left > 0 && left % 3 == 0) s += '\'';
    }
    i32 f = 2;
    if (ValueCell* digits = system_setting({"options", "money-digits"}))
        if (digits->type() == TYPE_INTEGER) f = integer_get(digits);
    if (all || f > MONEY_FRACTION_DIGITS) f = MONEY_FRACTION_DIGITS;
    if (f >= 1) {
        s += '.';
        for (i32 p = MONEY_INT_DIGITS + 1; p <= MONEY_INT_DIGITS + f; p++)
            s += static_cast<char>('0' + money_digit(m, p));
    }
    string_append_cstr(out, s.c_str());
    return limit - static_cast<i32>(s.size());
}

i32 money_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return money_form_body(value, out, limit, false, true);
}

i32 money_mold(ValueCell* value, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit,
               i32) {
    return money_form_body(value, out, limit, all, false);
}

// ---- compare -------------------------------------------------------------------------

namespace {
i32 compare_currencies(u32 c1, u32 c2) {
    if (c1 == c2) return 0;
    if (c1 == 0) return -1;
    if (c2 == 0) return 1;
    const ValueCell* w1 = money_currency_at(c1);
    const ValueCell* w2 = money_currency_at(c2);
    if (w1 && w2) {
        // The second name may grow its buffer and so collect: the first is
        // copied out of the heap before.
        std::string n1 = symbol_to_cstr(word_symbol(w1));
        i32 r = std::strcmp(n1.c_str(), symbol_to_cstr(word_symbol(w2)));
        if (r != 0) return r < 0 ? -1 : 1;
    }
    return c1 < c2 ? -1 : 1;
}
}  // namespace

i32 money_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    u32 t2 = value2->type();
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && t2 != TYPE_MONEY) return 1;
    Amount a = amount_of(value1);
    Amount b;
    switch (t2) {
        case TYPE_MONEY: {
            u32 c1 = money_currency_of(value1), c2 = money_currency_of(value2);
            if (op >= CMP_LESSER && op <= CMP_GREATER_EQUAL) {
                if (c1 && c2 && c1 != c2) {
                    ValueCell x = *value1, y = *value2;
                    fire(Err::script_wrong_denom, &x, &y);
                }
            } else if (op == CMP_SORT || op == CMP_SORT_CASE) {
                if (i32 c = compare_currencies(c1, c2)) return c;
            } else if (c1 != c2) {
                bool either_unset = c1 == 0 || c2 == 0;
                bool lenient = op != CMP_STRICT_EQUAL && op != CMP_SAME &&
                               (op != CMP_FIND || c2 == 0);
                if (!(lenient && either_unset)) return 1;
            }
            b = amount_of(value2);
            break;
        }
        case TYPE_INTEGER:
            b = amount_from_integer(integer_get(value2));
            break;
        case TYPE_FLOAT: {
            double x = value2->get_float();
            if (amount_from_float(x, true, &b) != FloatFit::ok) {
                // A float that no money amount equals: the two are compared
                // as floats, so the order follows their values.
                ValueCell f;
                float_make_at(&f, amount_to_float(a));
                return float_compare(&f, value2, op);
            }
            break;
        }
        default:
            return CMP_NOT_COMPARABLE;
    }
    return compare_amounts(a, b);
}

// ---- path and pick -------------------------------------------------------------------

namespace {
// 1 the currency, 2 the amount, -1 anything else.
i32 money_selector(const ValueCell* element) {
    if (element->type() == TYPE_INTEGER) {
        i32 n = integer_get(element);
        return n == 1 || n == 2 ? n : -1;
    }
    if (scalar_word_is(element, g_sym.code)) return 1;
    if (scalar_word_is(element, g_sym.amount)) return 2;
    return -1;
}

ValueCell* money_field(const ValueCell* m, i32 field) {
    if (field == 1) return money_currency_word(m);
    ValueCell* r = stack_push(m);
    money_set_currency(r, 0);
    return r;
}
}  // namespace

ValueCell* money_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell*, ValueCell*, i32, bool, bool, bool, bool) {
    i32 field = money_selector(element);
    if (field < 0) fire(Err::script_invalid_path, path ? path : element, element);
    if (value) fire(Err::script_bad_path_set, path ? path : element, element);
    return money_field(parent, field);
}

ValueCell* money_pick(ValueCell* value, i32, ValueCell* index_cell) {
    i32 field = money_selector(index_cell);
    if (field < 0) fire(Err::script_out_of_range, index_cell);
    return money_field(value, field);
}

void money_init() {
    ActionRow row;
    row.set<ACT_MAKE>(money_make)
        .set<ACT_RANDOM>(money_random)
        .set<ACT_TO>(money_to)
        .set<ACT_FORM>(money_form)
        .set<ACT_MOLD>(money_mold)
        .set<ACT_EVAL_PATH>(money_eval_path)
        .set<ACT_COMPARE>(money_compare)
        .set<ACT_ABSOLUTE>(money_absolute)
        .set<ACT_ADD>(money_add)
        .set<ACT_DIVIDE>(money_divide)
        .set<ACT_MULTIPLY>(money_multiply)
        .set<ACT_NEGATE>(money_negate)
        .set<ACT_REMAINDER>(money_remainder)
        .set<ACT_ROUND>(money_round)
        .set<ACT_SUBTRACT>(money_subtract)
        .set<ACT_EVEN_Q>(money_even_q)
        .set<ACT_ODD_Q>(money_odd_q)
        .set<ACT_PICK>(money_pick);
    datatype_register(TYPE_MONEY, row);
}

}  // namespace zan
