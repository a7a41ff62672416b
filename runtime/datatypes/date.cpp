// date!: the calendar behind the packed date word, construction from
// blocks and epoch seconds, the fourteen accessors, arithmetic with days,
// times and other dates, comparison by instant, and the text form.
#include "runtime/datatypes/date.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

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
#include "runtime/datatypes/time.h"

namespace zan {

namespace {

constexpr i64 SECS_PER_DAY = 86400;

// Floor division and modulo: the calendar is proleptic, so negative years
// count leap days like positive ones.
i64 fdiv(i64 a, i64 b) {
    i64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
i64 fmod_pos(i64 a, i64 b) { return a - fdiv(a, b) * b; }

// Day number of a year, month (1-12) and day; day may lie outside the
// month (0 is the last day of the previous month).
i64 days_of(i64 year, i64 month, i64 day) {
    i64 mp = (month + 9) % 12;
    i64 yp = year - mp / 10;
    return 365 * yp + fdiv(yp, 4) - fdiv(yp, 100) + fdiv(yp, 400) + (306 * mp + 5) / 10 +
           (day - 1);
}

[[noreturn]] void fire_date_limit() { number_fire_type(Err::script_type_limit, TYPE_DATE); }

u32 pack(i32 year, u32 month, u32 day, u32 zone_bits, bool time_flag) {
    return (static_cast<u32>(year) << 17) | (time_flag ? DATE_TIME_FLAG : 0u) | (month << 12) |
           (day << 7) | (zone_bits & DATE_ZONE_MASK);
}

// Carries a month count outside 1-12 into the year.
void carry_month(i64* year, i64* month) {
    i64 m = *month - 1;
    *year += fdiv(m, 12);
    *month = fmod_pos(m, 12) + 1;
}

i64 epoch_days() { return days_of(1970, 1, 1); }

}  // namespace

// ---- the packed word -----------------------------------------------------------------

i32 date_zone_offset(u32 zone_bits) {
    i32 off = static_cast<i32>((zone_bits >> 2) & 0xF) * 3600 + static_cast<i32>(zone_bits & 3) * 900;
    return (zone_bits & DATE_ZONE_SIGN) ? -off : off;
}

bool date_zone_bits_of(i32 offset_seconds, u32* bits) {
    i64 a = offset_seconds < 0 ? -static_cast<i64>(offset_seconds) : offset_seconds;
    if (a > DATE_ZONE_MAX_SECONDS) return false;
    u32 hours = static_cast<u32>(a / 3600);
    u32 quarters = static_cast<u32>((a % 3600) / 900);
    u32 b = (hours << 2) | quarters;
    if (offset_seconds < 0 && b != 0) b |= DATE_ZONE_SIGN;
    *bits = b;
    return true;
}

i32 date_to_days(u32 packed) {
    return static_cast<i32>(days_of(date_year(packed), date_month(packed), date_day(packed)));
}

u32 date_from_days(i64 g, u32 zone_bits, bool time_flag) {
    // Far outside the year range: refuse before the float estimate.
    if (g > 6000000 || g < -6000000) fire_date_limit();
    i64 y = static_cast<i64>(std::floor((10000.0 * static_cast<double>(g) + 14780.0) / 3652425.0));
    auto year_days = [](i64 yy) { return 365 * yy + fdiv(yy, 4) - fdiv(yy, 100) + fdiv(yy, 400); };
    i64 ddd = g - year_days(y);
    if (ddd < 0) {
        y -= 1;
        ddd = g - year_days(y);
    }
    i64 mi = (100 * ddd + 52) / 3060;
    i64 month = (mi + 2) % 12 + 1;
    i64 year = y + (mi + 2) / 12;
    i64 day = ddd - (mi * 306 + 5) / 10 + 1;
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX) fire_date_limit();
    return pack(static_cast<i32>(year), static_cast<u32>(month), static_cast<u32>(day), zone_bits,
                time_flag);
}

i32 date_year_start(u32 packed) { return static_cast<i32>(days_of(date_year(packed), 1, 1)); }

bool date_leap_year_q(i32 year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

i32 date_weekday_of_days(i64 days) { return static_cast<i32>(fmod_pos(days + 2, 7)) + 1; }

i32 date_week_base(u32 packed, i32* jan1_weekday) {
    i64 s = date_year_start(packed);
    i64 w = fmod_pos(s + 2, 7);  // 0 Monday
    if (jan1_weekday) *jan1_weekday = static_cast<i32>(w) + 1;
    i64 base = s - w;
    if (w >= 4) base += 7;
    return static_cast<i32>(base);
}

i32 date_yearday(u32 packed) { return date_to_days(packed) - date_year_start(packed) + 1; }

i32 date_week(u32 packed) {
    i64 j = fmod_pos(date_year_start(packed) + 3, 7);  // 0 when 1 January is a Sunday
    i64 d = date_yearday(packed);
    if (d > 7 - j) return static_cast<i32>((d + j - 1) / 7 + 1);
    return 1;
}

i32 date_isoweek(u32 packed) {
    i64 g = date_to_days(packed);
    i32 jan1 = 0;
    i64 base = date_week_base(packed, &jan1);
    i32 year = date_year(packed);
    if (g < base) {
        // The last week of the previous year.
        if (jan1 == 5) return 53;
        if (jan1 == 6) return date_leap_year_q(year - 1) ? 53 : 52;
        return 52;
    }
    i64 next_base = date_week_base(pack(year + 1 > DATE_YEAR_MAX ? year : year + 1, 1, 1, 0, false),
                                   nullptr);
    if (year < DATE_YEAR_MAX && g >= next_base) return 1;
    return static_cast<i32>((g - base) / 7 + 1);
}

// ---- time and zone -------------------------------------------------------------------

i32 date_to_epoch(const ValueCell* date) {
    double days = static_cast<double>(date_to_days(date_packed(date)) - epoch_days());
    // Rounded to the nearest second (floor of x + 0.5, so that instants
    // before 1970 are not pulled one second toward it).
    double s = std::floor(days * SECS_PER_DAY + date->get_float() + 0.5);
    if (!(s >= -2147483648.0 && s <= 2147483647.0))
        number_fire_type(Err::script_type_limit, TYPE_INTEGER);
    return static_cast<i32>(s);
}

double date_apply_zone(double seconds, u32 zone_bits, i32 direction) {
    double off = static_cast<double>(date_zone_offset(zone_bits));
    return direction > 0 ? seconds + off : seconds - off;
}

void date_fold_time(i64* days, double* time, u32 zone_bits) {
    double t = *time;
    if (!std::isfinite(t)) fire_date_limit();
    double h = static_cast<double>(date_zone_offset(zone_bits)) / 3600.0;
    double m = std::trunc(std::trunc(t / 3600.0 + h) / 24.0);
    // Beyond any representable year: refuse before converting.
    if (std::fabs(m) > 1e7) fire_date_limit();
    *days += static_cast<i64>(m);
    t -= m * static_cast<double>(SECS_PER_DAY);
    if (h * 3600.0 + t < 0) {
        *days -= 1;
        t += static_cast<double>(SECS_PER_DAY);
    }
    *time = t;
}

void date_normalize(ValueCell* cell, double t, bool to_utc) {
    u32 packed = date_packed(cell);
    u32 zone = date_zone_bits(packed);
    if (to_utc) t = date_time_sub_zone(t, zone);
    i64 g = date_to_days(packed);
    date_fold_time(&g, &t, zone);
    set_date_packed(cell, date_from_days(g, zone, date_has_time(packed)));
    cell->put_float(t);
}

// ---- cells ---------------------------------------------------------------------------

ValueCell* date_push(u32 packed, double time) { return date_box(stack_push_cell(), packed, time); }

bool date_make_at(ValueCell* cell, i32 year, i32 month, i32 day, double local_time,
                  i32 zone_hours, i32 zone_minutes, bool has_time) {
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX || month < 1 || month > 12 || day < 1 ||
        day > 31)
        return false;
    u32 zone = 0;
    if (has_time) {
        if (zone_hours < -15 || zone_hours > 15 || zone_minutes < -59 || zone_minutes > 59)
            return false;
        // West of UTC when either part is negative, so that -0:30 keeps its sign.
        bool west = zone_hours < 0 || zone_minutes < 0;
        u32 hours = static_cast<u32>(zone_hours < 0 ? -zone_hours : zone_hours);
        u32 minutes = static_cast<u32>(zone_minutes < 0 ? -zone_minutes : zone_minutes);
        zone = (hours << 2) | (minutes / 15);
        if (west && zone != 0) zone |= DATE_ZONE_SIGN;
    }
    u32 packed = pack(year, static_cast<u32>(month), static_cast<u32>(day), zone, has_time);
    date_box(cell, packed, has_time ? date_time_sub_zone(local_time, zone) : 0.0);
    return true;
}

ValueCell* date_make_from_parts(ValueCell* cell, i32 year, i32 month, i32 day, i32 hour,
                                i32 minute, i32 second, i32 nanoseconds) {
    i64 y = year, m = month;
    carry_month(&y, &m);
    u32 packed = date_from_days(days_of(y, m, day), 0, true);
    double t = hour * 3600.0 + minute * 60.0 + second + nanoseconds * 1e-9;
    return date_box(cell, packed, t);
}

namespace {

void set_days(ValueCell* cell, i64 g) {
    u32 p = date_packed(cell);
    set_date_packed(cell, date_from_days(g, date_zone_bits(p), date_has_time(p)));
}

}  // namespace

void date_set_week(ValueCell* cell, i32 week) {
    set_days(cell, static_cast<i64>(date_week_base(date_packed(cell), nullptr)) + 7 * (static_cast<i64>(week) - 1));
}

void date_set_weekday(ValueCell* cell, i32 weekday) {
    i64 g = date_to_days(date_packed(cell));
    set_days(cell, g - (date_weekday_of_days(g) - 1) + (static_cast<i64>(weekday) - 1));
}

void date_set_yearday(ValueCell* cell, i32 yearday) {
    set_days(cell, static_cast<i64>(date_year_start(date_packed(cell))) + yearday - 1);
}

void date_difference(ValueCell* date1, const ValueCell* date2) {
    double days = static_cast<double>(date_to_days(date_packed(date1))) -
                  static_cast<double>(date_to_days(date_packed(date2)));
    double secs = days * SECS_PER_DAY + (date1->get_float() - date2->get_float());
    time_box(date1, secs);
}

// ---- arithmetic ----------------------------------------------------------------------

void date_math_op(i32 op) {
    ValueCell* d = stack_arg(0);
    ValueCell* v = stack_arg(1);
    u32 packed = date_packed(d);
    i64 g = date_to_days(packed);
    double t = d->get_float();
    bool time_flag = date_has_time(packed);
    i64 days = 0;
    double secs = 0.0;
    switch (v->type()) {
        case TYPE_INTEGER:
            days = integer_get(v);
            break;
        case TYPE_TIME:
            secs = v->get_float();
            time_flag = true;
            break;
        case TYPE_DATE: {
            if (op != MATH_SUBTRACT) number_fire_not_related(g_words.n.add, TYPE_DATE);
            // Whole days between the two instants, rounded down.
            i64 dd = g - date_to_days(date_packed(v));
            double dt = t - v->get_float();
            double whole = std::floor(dt / static_cast<double>(SECS_PER_DAY));
            // Dates keep their floats within a few days of their day: any
            // other difference cannot be a whole number of days in 32 bits.
            if (!(std::fabs(whole) < 1e9)) number_fire_type(Err::script_type_limit, TYPE_INTEGER);
            dd += static_cast<i64>(whole);
            if (dd > INT32_MAX || dd < INT32_MIN) number_fire_type(Err::script_type_limit, TYPE_INTEGER);
            integer_box(d, static_cast<i32>(dd));
            return;
        }
        default:
            number_fire_type(Err::script_invalid_type, v->type());
    }
    if (op == MATH_SUBTRACT) {
        g -= days;
        t -= secs;
    } else {
        g += days;
        t += secs;
    }
    u32 zone = date_zone_bits(packed);
    date_fold_time(&g, &t, zone);
    date_box(d, date_from_days(g, zone, time_flag), t);
}

void date_add() { date_math_op(MATH_ADD); }
void date_subtract() { date_math_op(MATH_SUBTRACT); }

// ---- make and to ---------------------------------------------------------------------

namespace {

[[noreturn]] void bad_date_spec(const ValueCell* spec) { number_fire_bad_to_arg(TYPE_DATE, spec); }

// The zone bits of a zone given as a time! or as hours and minutes.
u32 zone_from_time(const ValueCell* zone) {
    double s = zone->get_float();
    u32 bits = 0;
    if (!(std::fabs(s) <= DATE_ZONE_MAX_SECONDS) || !date_zone_bits_of(static_cast<i32>(s), &bits))
        fire(Err::script_out_of_range, zone);
    return bits;
}
u32 zone_from_hours(const ValueCell* hours, const ValueCell* minutes) {
    i32 h = integer_get(hours);
    i32 m = minutes ? integer_get(minutes) : 0;
    if (h < -15 || h > 15) fire(Err::script_out_of_range, hours);
    if (m < 0 || m > 59) fire(Err::script_out_of_range, minutes);
    u32 bits = (static_cast<u32>(h < 0 ? -h : h) << 2) | static_cast<u32>(m / 15);
    if (h < 0 && bits != 0) bits |= DATE_ZONE_SIGN;
    return bits;
}

}  // namespace

ValueCell* date_make_from_spec(ValueCell* spec, bool normalise) {
    i32 n = block_length(spec);
    ValueCell* v = block_head_ptr(spec);
    auto is = [&](i32 i, u32 t) { return i < n && v[i].type() == t; };
    if (n < 3 || !is(0, TYPE_INTEGER) || !is(1, TYPE_INTEGER) || !is(2, TYPE_INTEGER))
        bad_date_spec(spec);
    i64 day = integer_get(&v[0]);
    i64 month = integer_get(&v[1]);
    i64 year = integer_get(&v[2]);
    i32 i = 3;
    double t = 0.0;
    bool has_time = n > 3;
    bool parts = false;  // time given as h [m [s]]
    i64 want_hours = 0, want_minutes = 0;
    const ValueCell* zone_time = nullptr;
    const ValueCell* zone_h = nullptr;
    const ValueCell* zone_m = nullptr;
    auto read_zone = [&] {
        if (is(i, TYPE_TIME)) {
            zone_time = &v[i++];
        } else if (is(i, TYPE_INTEGER)) {
            zone_h = &v[i++];
            if (is(i, TYPE_INTEGER)) zone_m = &v[i++];
        }
    };
    if (is(i, TYPE_TIME)) {
        t = v[i++].get_float();
        read_zone();
    } else if (is(i, TYPE_INTEGER)) {
        parts = true;
        want_hours = integer_get(&v[i++]);
        if (is(i, TYPE_INTEGER)) want_minutes = integer_get(&v[i++]);
        double s = 0.0;
        bool have_s = false;
        if (is(i, TYPE_INTEGER)) {
            s = integer_get(&v[i++]);
            have_s = true;
        } else if (is(i, TYPE_FLOAT)) {
            s = v[i++].get_float();
            have_s = true;
        }
        t = static_cast<double>(want_hours) * 3600.0 + static_cast<double>(want_minutes) * 60.0 + s;
        if (have_s) read_zone();
    }
    if (i != n) bad_date_spec(spec);

    // Year first when the first value can only be a year.
    if (day >= 100 && day > year) std::swap(day, year);
    i64 y = year, m = month;
    carry_month(&y, &m);
    i64 g = days_of(y, m, 1) - 1 + day;
    if (!std::isfinite(t)) bad_date_spec(spec);
    date_fold_time(&g, &t, 0);
    ValueCell* r = date_push(date_from_days(g, 0, has_time), t);

    if (!normalise) {
        u32 p = date_packed(r);
        bool moved = date_year(p) != year || static_cast<i64>(date_month(p)) != month ||
                     static_cast<i64>(date_day(p)) != day;
        if (!moved && has_time) {
            double asked = parts ? 0.0 : v[3].get_float();
            if (parts) {
                moved = want_hours < 0 || want_hours > 23 || time_minutes(t) != want_minutes ||
                        want_minutes < 0;
            } else if (asked != 0.0) {
                double h = std::trunc(asked / 3600.0);
                moved = h < 0 || h > 23 || time_minutes(t) != time_minutes(asked);
            }
        }
        if (moved) bad_date_spec(spec);
    }

    u32 zone = 0;
    if (zone_time) zone = zone_from_time(zone_time);
    else if (zone_h) zone = zone_from_hours(zone_h, zone_m);
    set_date_packed(r, (date_packed(r) & ~DATE_ZONE_MASK) | zone);
    if (has_time) date_normalize(r, r->get_float(), true);
    return r;
}

ValueCell* date_to(ValueCell*, ValueCell* spec, u32) {
    switch (spec->type()) {
        case TYPE_DATE:
            return stack_push(spec);
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            return date_make_from_spec(spec, true);
        case TYPE_INTEGER: {
            i64 secs = integer_get(spec);
            i64 g = epoch_days() + secs / SECS_PER_DAY;
            double t = static_cast<double>(secs % SECS_PER_DAY);
            ValueCell* r = date_push(date_from_days(g, 0, true), t);
            if (t < 0) date_normalize(r, t, false);
            return r;
        }
        default:
            bad_date_spec(spec);
    }
}

ValueCell* date_make(ValueCell* proto, ValueCell* spec, u32 type) {
    switch (spec->type()) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            return date_make_from_spec(spec, false);
        default:
            return date_to(proto, spec, type);
    }
}

// ---- random --------------------------------------------------------------------------

void date_random(ValueCell* value, bool seed, bool secure, bool) {
    u32 packed = date_packed(value);
    double t = value->get_float();
    if (seed) {
        g_services.random_seed(packed + static_cast<u32>(float_to_i32_or(t, 0)));
        unset_set_result();
        return;
    }
    i64 g = static_cast<i64>(g_services.random_int(date_to_days(packed), secure)) - 1;
    bool time_flag = date_has_time(packed);
    u32 zone = date_zone_bits(packed);
    ValueCell r;
    if (time_flag) {
        zone = g_services.random_next() & DATE_ZONE_MASK;
        double x = float_random_up_to(3600.0, secure);
        date_box(&r, date_from_days(g, zone, true), 0.0);
        date_normalize(&r, std::floor(x) * 24.0, true);
    } else {
        date_box(&r, date_from_days(g, zone, false), 0.0);
    }
    *stack_result() = r;
}

// ---- text ----------------------------------------------------------------------------

namespace {

const char* const kMonthNames[12] = {"January", "February", "March",     "April",
                                     "May",     "June",     "July",      "August",
                                     "September", "October", "November", "December"};

// The first three characters of the month's name from system/locale/months
// (built-in English names while there is no system object).
void append_month(ValueCell* out, u32 month) {
    ValueCell* sys = system_setting({});
    if (!sys || sys->type() != TYPE_OBJECT) {
        char abbr[4] = {};
        std::memcpy(abbr, kMonthNames[(month - 1) % 12], 3);
        string_append_cstr(out, abbr);
        return;
    }
    ValueCell* months = system_setting({"locale", "months"});
    if (!months || !type_block_like(months->type()) || month < 1 ||
        static_cast<i32>(month) > block_length(months))
        fire(Err::script_invalid_months);
    ValueCell name = block_head_ptr(months)[month - 1];
    if (name.type() != TYPE_STRING) fire(Err::script_invalid_months);
    i32 len = string_length(&name);
    u32 first = static_cast<u32>(series_index(&name));
    for (i32 i = 0; i < len && i < 3; i++)
        string_append_char(out, string_char_at(&name, first + static_cast<u32>(i)));
}

i32 date_form_into(const ValueCell* value, ValueCell* out, i32 limit) {
    u32 p = date_packed(value);
    i32 start = string_length(out);
    i32 year = date_year(p);
    char sep = year < 0 ? '/' : '-';
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u%c", date_day(p), sep);
    string_append_cstr(out, buf);
    append_month(out, date_month(p));
    if (year < 0) std::snprintf(buf, sizeof buf, "%c-%d", sep, -year);
    else if (year > 99) std::snprintf(buf, sizeof buf, "%c%d", sep, year);
    else std::snprintf(buf, sizeof buf, "%c%04d", sep, year);
    string_append_cstr(out, buf);
    if (date_has_time(p)) {
        string_append_cstr(out, "/");
        u32 zone = date_zone_bits(p);
        time_form_into(date_time_add_zone(value->get_float(), zone), out, 0);
        if (zone != 0) {
            std::snprintf(buf, sizeof buf, "%c%02u:%02u", (zone & DATE_ZONE_SIGN) ? '-' : '+',
                          (zone >> 2) & 0xF, (zone & 3) * 15);
            string_append_cstr(out, buf);
        }
    }
    return limit - (string_length(out) - start);
}

}  // namespace

i32 date_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return date_form_into(value, out, limit);
}

i32 date_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell*, i32 limit, i32) {
    return date_form_into(value, out, limit);
}

// ---- compare -------------------------------------------------------------------------

// Two dates are compared by their local calendar dates first (year, month
// and day, the zone left out) and then by their floats. Within one local
// date this orders by instant; across a change of date it does not: 23:00
// at -01:00 and 0:00 of the next day at zone 0 are one instant but unequal.
i32 date_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_DATE) return CMP_NOT_COMPARABLE;
    double t1 = value1->get_float();
    double t2 = value2->get_float();
    if (op == CMP_SAME)
        return date_packed(value1) == date_packed(value2) &&
                       std::bit_cast<u64>(t1) == std::bit_cast<u64>(t2)
                   ? 0
                   : 1;
    // Year (signed), month and day, in that order of weight.
    auto key = [](const ValueCell* d) {
        return static_cast<i32>(date_packed(d) & ~DATE_TIME_FLAG) >> 7;
    };
    i32 k1 = key(value1), k2 = key(value2);
    bool equal = k1 == k2 && float_almost_equal(t1, t2);
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_STRICT_EQUAL:
        case CMP_WORD_EXACT:
        case CMP_WORD_FOLDED:
        case CMP_FIND:
            return equal ? 0 : 1;
        default:
            if (equal) return 0;
            if (k1 != k2) return k1 < k2 ? -1 : 1;
            return t1 < t2 ? -1 : 1;
    }
}

// ---- accessors -----------------------------------------------------------------------

i32 date_field_index(const ValueCell* word) {
    u32 key = scalar_word_key(word);
    if (key == 0) return -1;
    struct Entry {
        u32 symbol;
        i32 field;
    };
    const Entry table[] = {
        {g_sym.date, DATE_FIELD_DATE},       {g_sym.year, DATE_FIELD_YEAR},
        {g_sym.month, DATE_FIELD_MONTH},     {g_sym.day, DATE_FIELD_DAY},
        {g_sym.zone, DATE_FIELD_ZONE},       {g_sym.time, DATE_FIELD_TIME},
        {g_sym.hour, DATE_FIELD_HOUR},       {g_sym.minute, DATE_FIELD_MINUTE},
        {g_sym.second, DATE_FIELD_SECOND},   {g_sym.weekday, DATE_FIELD_WEEKDAY},
        {g_sym.yearday, DATE_FIELD_YEARDAY}, {g_sym.julian, DATE_FIELD_YEARDAY},
        {g_sym.timezone, DATE_FIELD_TIMEZONE}, {g_sym.week, DATE_FIELD_WEEK},
        {g_sym.isoweek, DATE_FIELD_ISOWEEK},
    };
    for (const Entry& e : table)
        if (e.symbol != 0 && symbol_resolve(e.symbol) == key) return e.field;
    return -1;
}

ValueCell* date_get_field(const ValueCell* date, i32 field) {
    u32 p = date_packed(date);
    u32 zone = date_zone_bits(p);
    double local = date_time_add_zone(date->get_float(), zone);
    switch (field) {
        case DATE_FIELD_DATE:
            return date_push(p & ~(DATE_TIME_FLAG | DATE_ZONE_MASK), 0.0);
        case DATE_FIELD_YEAR: return integer_push(date_year(p));
        case DATE_FIELD_MONTH: return integer_push(static_cast<i32>(date_month(p)));
        case DATE_FIELD_DAY: return integer_push(static_cast<i32>(date_day(p)));
        case DATE_FIELD_ZONE:
        case DATE_FIELD_TIMEZONE:
            if (!date_has_time(p)) return none_push();
            return time_push(static_cast<double>(date_zone_offset(zone)));
        case DATE_FIELD_TIME:
            if (!date_has_time(p)) return none_push();
            return time_push(local);
        case DATE_FIELD_HOUR: return integer_push(time_hours(local));
        case DATE_FIELD_MINUTE: return integer_push(time_minutes(local));
        case DATE_FIELD_SECOND: return float_push(std::fmod(local, TIME_SECS_MINUTE));
        case DATE_FIELD_WEEKDAY: return integer_push(date_weekday_of_days(date_to_days(p)));
        case DATE_FIELD_YEARDAY: return integer_push(date_yearday(p));
        case DATE_FIELD_WEEK: return integer_push(date_week(p));
        default: return integer_push(date_isoweek(p));
    }
}

namespace {

i32 need_integer(const ValueCell* value) {
    if (value->type() != TYPE_INTEGER) fire(Err::script_invalid_arg, value);
    return integer_get(value);
}

// The zone bits of a new zone value. Offsets beyond what the packed word
// holds (15:45 either way) are refused, never wrapped.
u32 zone_of_value(const ValueCell* value) {
    if (value->type() == TYPE_INTEGER) {
        i32 h = integer_get(value);
        if (h < -15 || h > 15) fire(Err::script_out_of_range, value);
        u32 bits = static_cast<u32>(h < 0 ? -h : h) << 2;
        if (h < 0) bits |= DATE_ZONE_SIGN;
        return bits;
    }
    if (value->type() == TYPE_TIME) return zone_from_time(value);
    fire(Err::script_invalid_arg, value);
}

// Sets accessor `field` of the date in d to value.
void date_set_field(ValueCell* d, i32 field, const ValueCell* value) {
    u32 p = date_packed(d);
    double t = d->get_float();
    u32 zone = date_zone_bits(p);
    bool tf = date_has_time(p);
    i64 y = date_year(p), m = date_month(p), day = date_day(p);
    i64 g = date_to_days(p);
    auto store_days = [&](i64 days) { date_box(d, date_from_days(days, zone, tf), t); };
    switch (field) {
        case DATE_FIELD_DATE: {
            if (value->type() != TYPE_DATE) fire(Err::script_invalid_arg, value);
            u32 q = date_packed(value);
            bool qt = date_has_time(q);
            // A date without a time has no zone and no time either.
            if (!qt) {
                date_box(d, q & ~(DATE_TIME_FLAG | DATE_ZONE_MASK), 0.0);
                return;
            }
            date_box(d, (q & ~DATE_ZONE_MASK) | zone, t);
            return;
        }
        case DATE_FIELD_YEAR: {
            i32 v = need_integer(value);
            if (v < DATE_YEAR_MIN || v > DATE_YEAR_MAX) fire(Err::script_out_of_range, value);
            store_days(days_of(v, m, day));
            return;
        }
        case DATE_FIELD_MONTH: {
            i64 mm = need_integer(value);
            carry_month(&y, &mm);
            store_days(days_of(y, mm, day));
            return;
        }
        case DATE_FIELD_DAY:
            store_days(days_of(y, m, 1) - 1 + need_integer(value));
            return;
        case DATE_FIELD_ZONE: {
            u32 nz = zone_of_value(value);
            double local = tf ? date_time_add_zone(t, zone) : 0.0;
            date_box(d, (p & ~DATE_ZONE_MASK) | nz | DATE_TIME_FLAG, date_time_sub_zone(local, nz));
            return;
        }
        case DATE_FIELD_TIMEZONE: {
            u32 nz = zone_of_value(value);
            date_box(d, (p & ~DATE_ZONE_MASK) | nz | DATE_TIME_FLAG, t);
            date_normalize(d, t, false);
            return;
        }
        case DATE_FIELD_TIME:
            if (value->type() == TYPE_NONE) {
                date_box(d, p & ~DATE_TIME_FLAG, 0.0);
                return;
            }
            if (value->type() != TYPE_TIME) fire(Err::script_invalid_arg, value);
            date_box(d, p | DATE_TIME_FLAG, t);
            date_normalize(d, value->get_float(), true);
            return;
        case DATE_FIELD_HOUR:
        case DATE_FIELD_MINUTE:
        case DATE_FIELD_SECOND: {
            // The field is set on the local time, so that zones of whole
            // quarter hours keep the other fields as they were.
            double local = date_time_add_zone(t, zone);
            if (!time_set_field(&local, field - DATE_FIELD_HOUR + TIME_FIELD_HOUR, value))
                fire(Err::script_invalid_arg, value);
            date_box(d, p | DATE_TIME_FLAG, t);
            date_normalize(d, local, true);
            return;
        }
        case DATE_FIELD_WEEKDAY: {
            i64 v = need_integer(value);
            store_days(g - (date_weekday_of_days(g) - 1) + (v - 1));
            return;
        }
        case DATE_FIELD_YEARDAY:
            store_days(static_cast<i64>(date_year_start(p)) + need_integer(value) - 1);
            return;
        case DATE_FIELD_WEEK: {
            i64 v = need_integer(value);
            i64 s = date_year_start(p);
            if (v == 1) {
                store_days(s);
                return;
            }
            i64 j = fmod_pos(s + 3, 7);
            store_days(s - j + 7 * (v - 1));
            return;
        }
        default: {
            i64 v = need_integer(value);
            store_days(static_cast<i64>(date_week_base(p, nullptr)) + 7 * (v - 1));
            return;
        }
    }
}

i32 selector_field(const ValueCell* element) {
    if (element->type() == TYPE_INTEGER) {
        i32 n = integer_get(element);
        return n >= 1 && n <= 14 ? n : -1;
    }
    return date_field_index(element);
}

}  // namespace

ValueCell* date_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                          ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32,
                          bool, bool, bool, bool notify) {
    i32 field = selector_field(element);
    if (field < 0) fire(Err::script_invalid_path, path ? path : element, element);
    if (!value) return date_get_field(parent, field);
    ValueCell changed = *parent;
    date_set_field(&changed, field, value);
    ValueCell old = *parent;
    *parent = changed;
    scalar_path_changed(holder, holder_item, &old, parent, notify);
    return value;
}

ValueCell* date_pick(ValueCell* value, i32, ValueCell* index_cell) {
    i32 field = selector_field(index_cell);
    if (field < 0) fire(Err::script_out_of_range, index_cell);
    return date_get_field(value, field);
}

void date_init() {
    ActionRow row;
    row.set<ACT_MAKE>(date_make)
        .set<ACT_RANDOM>(date_random)
        .set<ACT_TO>(date_to)
        .set<ACT_FORM>(date_form)
        .set<ACT_MOLD>(date_mold)
        .set<ACT_EVAL_PATH>(date_eval_path)
        .set<ACT_COMPARE>(date_compare)
        .set<ACT_ADD>(date_add)
        .set<ACT_SUBTRACT>(date_subtract)
        .set<ACT_PICK>(date_pick);
    datatype_register(TYPE_DATE, row);
}

}  // namespace zan
