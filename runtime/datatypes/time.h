// time!: a duration or time of day, a 64-bit float count of seconds in
// data2-data3 (negative values allowed). It takes random, compare,
// absolute, negate and remainder from float!; date! uses its text form,
// its field accessors and its field setter.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr double TIME_SECS_HOUR = 3600.0;
constexpr double TIME_SECS_MINUTE = 60.0;
constexpr double TIME_SECS_DAY = 86400.0;

// Field numbers of hour, minute and second.
enum TimeField : i32 { TIME_FIELD_HOUR = 1, TIME_FIELD_MINUTE = 2, TIME_FIELD_SECOND = 3 };

// ---- cells ---------------------------------------------------------------------------
inline ValueCell* time_box(ValueCell* c, double seconds) {
    cell_init(c, TYPE_TIME);
    c->put_float(seconds);
    return c;
}
inline double time_get(const ValueCell* c) { return c->get_float(); }
ValueCell* time_push(double seconds);

// ---- services ------------------------------------------------------------------------
// Whole hours, truncated toward zero. Raises type-limit (integer!) when the
// count does not fit in 32 bits.
i32 time_hours(double seconds);
// floor((|seconds| mod 3600) / 60): always 0-59 (0 for infinities and NaN).
i32 time_minutes(double seconds);
// The field as a new cell on the data stack: hour and minute as integer!,
// second as float! (seconds mod 60, with the sign of the seconds).
ValueCell* time_get_field(double seconds, i32 field);
// The field number of a word (hour 1, minute 2, second 3), else -1.
i32 time_field_index(const ValueCell* word);
// The seconds after setting a field to an integer! (any field) or a
// float! (second only). False when the value's type does not fit the
// field.
bool time_set_field(double* seconds, i32 field, const ValueCell* value);
// Appends the text form ("1:30:00", "-0:00:05.5") and returns the budget
// less what was written.
i32 time_form_into(double seconds, ValueCell* out, i32 limit);

// ---- actions -------------------------------------------------------------------------
ValueCell* time_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 time_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 time_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* time_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                          ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                          bool case_sensitive, bool flag1, bool flag2, bool notify);
void time_add();
void time_subtract();
void time_multiply();
void time_divide();
void time_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling);
bool time_even_q(ValueCell* value);
bool time_odd_q(ValueCell* value);
ValueCell* time_pick(ValueCell* value, i32 index, ValueCell* index_cell);

void time_init();

}  // namespace zan
