// date!: a proleptic Gregorian calendar date with an optional time of day
// and time zone. data1 is the packed date word, data2-data3 a 64-bit float:
// the time of day in UTC seconds measured from the start of the local date,
// so that float + zone offset is the local time and the instant is
// day number x 86400 + float. Day 0 is 1 March of year 0.
//
// The packed word, from the top: year (bits 31-17, signed), time flag (16),
// month (15-12), day (11-7), zone sign (6, set west of UTC), zone hours
// (5-2), zone quarter hours (1-0).
#pragma once
#include "runtime/core/layout.h"

namespace zan {

constexpr u32 DATE_ZONE_MASK = 0x7Fu;
constexpr u32 DATE_ZONE_SIGN = 0x40u;
constexpr i32 DATE_YEAR_MIN = -16384;
constexpr i32 DATE_YEAR_MAX = 16383;
// The largest zone offset the packed word holds: 15:45.
constexpr i32 DATE_ZONE_MAX_SECONDS = 15 * 3600 + 45 * 60;

// Accessor numbers (words and integers 1-14 select them).
enum DateField : i32 {
    DATE_FIELD_DATE = 1, DATE_FIELD_YEAR, DATE_FIELD_MONTH, DATE_FIELD_DAY, DATE_FIELD_ZONE,
    DATE_FIELD_TIME, DATE_FIELD_HOUR, DATE_FIELD_MINUTE, DATE_FIELD_SECOND,
    DATE_FIELD_WEEKDAY, DATE_FIELD_YEARDAY, DATE_FIELD_TIMEZONE, DATE_FIELD_WEEK,
    DATE_FIELD_ISOWEEK,
};

// ---- the packed word -----------------------------------------------------------------
inline void set_date_packed(ValueCell* c, u32 packed) { c->data1 = packed; }
inline i32 date_year(u32 packed) { return static_cast<i32>(packed) >> 17; }
inline u32 date_month(u32 packed) { return (packed >> 12) & 0xF; }
inline u32 date_day(u32 packed) { return (packed >> 7) & 0x1F; }
inline u32 date_zone_bits(u32 packed) { return packed & DATE_ZONE_MASK; }
inline bool date_has_time(u32 packed) { return (packed & DATE_TIME_FLAG) != 0; }
// The zone offset east of UTC in seconds.
i32 date_zone_offset(u32 zone_bits);
// Zone bits of a signed offset in seconds (quarter hours, truncated toward
// zero); false when the offset is beyond 15:45 either way.
bool date_zone_bits_of(i32 offset_seconds, u32* bits);

// The day number. `date_from_days` builds the packed word; it raises
// type-limit (date!) when the year leaves the range of the word.
i32 date_to_days(u32 packed);
u32 date_from_days(i64 days, u32 zone_bits, bool time_flag);
// The day number of 1 January of the date's year.
i32 date_year_start(u32 packed);
// Day number of the Monday of ISO week 1; the weekday of 1 January (1
// Monday .. 7 Sunday) into *jan1_weekday when given.
i32 date_week_base(u32 packed, i32* jan1_weekday);
i32 date_yearday(u32 packed);
bool date_leap_year_q(i32 year);
// 1 Monday .. 7 Sunday.
i32 date_weekday_of_days(i64 days);
// Sunday-based week (week 1 holds 1 January) and ISO 8601 week.
i32 date_week(u32 packed);
i32 date_isoweek(u32 packed);

// ---- time and zone -------------------------------------------------------------------
// Seconds since 1970-01-01 00:00 UTC, rounded to the nearest second. Raises
// type-limit (integer!) outside the 32-bit range.
i32 date_to_epoch(const ValueCell* date);
// direction > 0: UTC float to local time (adds the offset); otherwise
// local time to the UTC float.
double date_apply_zone(double seconds, u32 zone_bits, i32 direction);
inline double date_time_add_zone(double seconds, u32 zone_bits) {
    return date_apply_zone(seconds, zone_bits, 1);
}
inline double date_time_sub_zone(double seconds, u32 zone_bits) {
    return date_apply_zone(seconds, zone_bits, -1);
}
// Moves whole days out of the float so that the local time lies in
// 0..86400. Raises type-limit (date!) for a float that is not finite.
void date_fold_time(i64* days, double* time, u32 zone_bits);
// Folds t into the cell's date (t taken as local time when to_utc) and
// stores the result; zone bits and time flag are kept.
void date_normalize(ValueCell* cell, double t, bool to_utc);

// ---- cells ---------------------------------------------------------------------------
inline ValueCell* date_box(ValueCell* c, u32 packed, double time) {
    cell_init(c, TYPE_DATE, packed);
    c->put_float(time);
    return c;
}
ValueCell* date_push(u32 packed, double time);
// Used by the lexer's date loader. The zone is given as hours and minutes
// (minutes / 15 quarters), west of UTC when either is negative (-0:30 is
// hours 0, minutes -30); with a time the float is the local time less the
// offset, else the time flag is clear and the float 0. False (the cell
// unchanged) when a field does not fit the packed word.
bool date_make_at(ValueCell* cell, i32 year, i32 month, i32 day, double local_time,
                  i32 zone_hours, i32 zone_minutes, bool has_time);
// A UTC date and time (file times): time flag set, zone 0.
ValueCell* date_make_from_parts(ValueCell* cell, i32 year, i32 month, i32 day, i32 hour,
                                i32 minute, i32 second, i32 nanoseconds);
// Week dates and ordinal dates of the lexer; zone and time flag kept.
void date_set_week(ValueCell* cell, i32 week);
void date_set_weekday(ValueCell* cell, i32 weekday);
void date_set_yearday(ValueCell* cell, i32 yearday);
// date1 becomes the time! between the two instants.
void date_difference(ValueCell* date1, const ValueCell* date2);
// The arithmetic core of add (0) and subtract (1) on argument cells 0 (the
// date, also the result) and 1.
void date_math_op(i32 op);
// The accessor number of a word, else -1.
i32 date_field_index(const ValueCell* word);
// An accessor's value, pushed on the data stack.
ValueCell* date_get_field(const ValueCell* date, i32 field);

// ---- actions -------------------------------------------------------------------------
// The date of a block spec: day month year, then a time (or hours
// [minutes [seconds]]), then a zone (a time, or hours [minutes]); pushed.
// Without normalise (make) a field out of its range is an error instead of
// carrying over into the next one (to).
ValueCell* date_make_from_spec(ValueCell* spec, bool normalise);
ValueCell* date_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* date_to(ValueCell* proto, ValueCell* spec, u32 type);
void date_random(ValueCell* value, bool seed, bool secure, bool only);
i32 date_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 date_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* date_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                          ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                          bool case_sensitive, bool flag1, bool flag2, bool notify);
i32 date_compare(ValueCell* value1, ValueCell* value2, i32 op);
void date_add();
void date_subtract();
ValueCell* date_pick(ValueCell* value, i32 index, ValueCell* index_cell);

void date_init();

}  // namespace zan
