// date!: the calendar, arithmetic and zones checked against a table made
// with Python's datetime (tests/data/date_oracle.tsv, tools/
// gen_date_oracle.py), then the accessors, construction, comparison by
// instant and the text form.
#include <cmath>

#include "scalar_test_support.h"

namespace zan::test {
namespace {

class DateTest : public ScalarTest {
protected:
    // "Y M D h mi s zone" (zone in minutes east of UTC).
    static ValueCell spec(const std::string& s) {
        std::istringstream in(s);
        i32 y, m, d, h, mi, sec, zone;
        in >> y >> m >> d >> h >> mi >> sec >> zone;
        return DTM(y, m, d, h, mi, sec, zone);
    }
    static i32 num(const std::string& s) { return static_cast<i32>(std::stol(s)); }
    static ValueCell ZONE_TIME(i32 minutes) { return TM(minutes * 60.0); }
};

TEST_F(DateTest, OracleCalendar) {
    int rows = 0;
    for (const auto& r : read_table("date_oracle.tsv")) {
        if (r[0] != "cal") continue;
        rows++;
        ValueCell d = DAY(num(r[1]), num(r[2]), num(r[3]));
        std::string what = r[1] + "-" + r[2] + "-" + r[3];
        EXPECT_EQ(iget(pick(d, W("weekday"))), num(r[4])) << what;
        EXPECT_EQ(iget(pick(d, W("yearday"))), num(r[5])) << what;
        EXPECT_EQ(iget(pick(d, W("julian"))), num(r[5])) << what;
        EXPECT_EQ(iget(pick(d, W("isoweek"))), num(r[6])) << what;
        EXPECT_EQ(iget(pick(d, W("week"))), num(r[7])) << what;
        EXPECT_EQ(date_leap_year_q(num(r[1])), r[8] == "1") << what;
        // The day number and its inverse agree.
        EXPECT_EQ(date_from_days(date_to_days(d.data1), 0, false), d.data1) << what;
    }
    EXPECT_GT(rows, 500);
}

TEST_F(DateTest, OracleArithmetic) {
    int rows = 0;
    for (const auto& r : read_table("date_oracle.tsv")) {
        if (r[0] == "addd") {
            ValueCell d = DAY(num(r[1]), num(r[2]), num(r[3]));
            EXPECT_EQ(mold(math(d, MATH_ADD, I(num(r[4])))), r[5]) << r[1] << r[2] << r[3];
            rows++;
        } else if (r[0] == "add") {
            ValueCell d = spec(r[1]);
            ValueCell plus_days = math(d, MATH_ADD, I(num(r[2])));
            ValueCell plus_time = math(plus_days, MATH_ADD, TM(num(r[3])));
            EXPECT_EQ(mold(plus_time), r[4]) << r[1] << " + " << r[2] << " + " << r[3];
            // Subtracting brings the instant back.
            ValueCell back = math(math(plus_time, MATH_SUBTRACT, TM(num(r[3]))), MATH_SUBTRACT,
                                  I(num(r[2])));
            EXPECT_TRUE(cmp(back, CMP_EQUAL, d)) << r[1];
            rows++;
        } else if (r[0] == "diff") {
            ValueCell a = spec(r[1]), b = spec(r[2]);
            ValueCell days = math(a, MATH_SUBTRACT, b);
            ASSERT_EQ(days.type(), TYPE_INTEGER);
            EXPECT_EQ(iget(days), num(r[3])) << r[1] << " - " << r[2];
            ValueCell span = a;
            date_difference(&span, &b);
            EXPECT_EQ(span.type(), TYPE_TIME);
            EXPECT_NEAR(fget(span), std::stod(r[4]), 1e-6) << r[1] << " - " << r[2];
            i32 sign = num(r[5]);
            EXPECT_EQ(cmp(a, CMP_EQUAL, b), sign == 0) << r[1] << " = " << r[2];
            EXPECT_EQ(cmp(a, CMP_LESSER, b), sign < 0) << r[1] << " < " << r[2];
            EXPECT_EQ(cmp(a, CMP_GREATER, b), sign > 0) << r[1] << " > " << r[2];
            rows++;
        }
    }
    EXPECT_GT(rows, 1000);
}

TEST_F(DateTest, OracleConversionsAndZones) {
    int rows = 0;
    for (const auto& r : read_table("date_oracle.tsv")) {
        if (r[0] == "epoch") {
            ValueCell d = spec(r[1]);
            if (r[2] == "LIMIT")
                EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, d); }), Err::script_type_limit) << r[1];
            else
                EXPECT_EQ(iget(to(TYPE_INTEGER, d)), num(r[2])) << r[1];
        } else if (r[0] == "tz") {
            EXPECT_EQ(mold(path_set(spec(r[1]), W("timezone"), ZONE_TIME(num(r[2])))), r[3])
                << r[1] << " timezone " << r[2];
        } else if (r[0] == "zone") {
            EXPECT_EQ(mold(path_set(spec(r[1]), W("zone"), ZONE_TIME(num(r[2])))), r[3])
                << r[1] << " zone " << r[2];
        } else if (r[0] == "todate") {
            EXPECT_EQ(mold(to(TYPE_DATE, I(num(r[1])))), r[2]) << r[1];
        } else if (r[0] == "norm") {
            ValueCell* b = blk({I(num(r[1])), I(num(r[2])), I(num(r[3]))});
            if (r[4] == "BAD")
                EXPECT_EQ(error_of([&] { make(TYPE_DATE, *b); }), Err::script_bad_to_arg)
                    << r[1] << " " << r[2] << " " << r[3];
            else
                EXPECT_EQ(mold(make(TYPE_DATE, *b)), r[4]);
            EXPECT_EQ(mold(to(TYPE_DATE, *b)), r[5]) << r[1] << " " << r[2] << " " << r[3];
        } else {
            continue;
        }
        rows++;
    }
    EXPECT_GT(rows, 1000);
}

TEST_F(DateTest, PackedWordLayout) {
    ValueCell d = DTM(2024, 3, 5, 10, 30, 0, -(3 * 60 + 45));
    u32 p = d.data1;
    EXPECT_EQ(static_cast<i32>(p) >> 17, 2024);
    EXPECT_TRUE(p & (1u << 16));
    EXPECT_EQ((p >> 12) & 0xF, 3u);
    EXPECT_EQ((p >> 7) & 0x1F, 5u);
    EXPECT_EQ(p & 0x7F, 0x40u | (3u << 2) | 3u);
    // The float is UTC seconds from the start of the local date.
    EXPECT_DOUBLE_EQ(fget(d), 10 * 3600 + 30 * 60 + 3 * 3600 + 45 * 60);
    ValueCell plain = DAY(-44, 3, 15);
    EXPECT_EQ(static_cast<i32>(plain.data1) >> 17, -44);
    EXPECT_EQ(plain.data1 & 0x1FFFF, (3u << 12) | (15u << 7));
    EXPECT_EQ(fget(plain), 0.0);
}

TEST_F(DateTest, MakeChecksAndToRollsOver) {
    EXPECT_EQ(error_of([&] { make(TYPE_DATE, *blk({I(29), I(2), I(2023)})); }),
              Err::script_bad_to_arg);
    EXPECT_EQ(mold(to(TYPE_DATE, *blk({I(29), I(2), I(2023)}))), "1-Mar-2023");
    EXPECT_EQ(mold(make(TYPE_DATE, *blk({I(2023), I(2), I(28)}))), "28-Feb-2023");
    EXPECT_EQ(mold(make(TYPE_DATE, *blk({I(1), I(1), I(2024), TM(37800), TM(19800)}))),
              "1-Jan-2024/10:30:00+05:30");
    EXPECT_EQ(mold(make(TYPE_DATE, *blk({I(1), I(1), I(2024), I(10), I(30), I(0), I(-8), I(0)}))),
              "1-Jan-2024/10:30:00-08:00");
    EXPECT_EQ(mold(make(TYPE_DATE, *blk({I(1), I(1), I(2024), I(10), I(5), F(7.5)}))),
              "1-Jan-2024/10:05:07.5");
    EXPECT_EQ(mold(make(TYPE_DATE, *blk({I(1), I(1), I(2024), I(10)}))), "1-Jan-2024/10:00:00");
    EXPECT_EQ(mold(to(TYPE_DATE, *blk({I(1), I(1), I(2024), I(25), I(75)}))),
              "2-Jan-2024/2:15:00");
    ValueCell bad[] = {
        *blk({I(1), I(1), I(2024), TM(25 * 3600)}),  // hour 25
        *blk({I(1), I(1), I(2024), I(10), I(75)}),   // minute 75
        *blk({I(1), I(1)}),
        *blk({I(1), I(1), F(2024)}),
        *blk({I(1), I(1), I(2024), F(10)}),
        *blk({I(1), I(1), I(2024), I(10), I(5), I(0), TM(0), I(1)}),
        *blk({I(1), I(1), I(2024), word("x")}),
    };
    for (const ValueCell& b : bad)
        EXPECT_EQ(error_of([&] { make(TYPE_DATE, b); }), Err::script_bad_to_arg) << mold(b);
    EXPECT_EQ(error_of([&] { to(TYPE_DATE, str("1-1-2024")[0]); }), Err::script_bad_to_arg);
}

TEST_F(DateTest, ZonesBeyondTheWordAreRefused) {
    ValueCell d = DTM(2024, 1, 1, 12, 0, 0);
    for (const ValueCell& z : {I(16), I(-16), I(100), TM(16 * 3600), TM(-16 * 3600), TM(23 * 3600)}) {
        EXPECT_EQ(error_of([&] { path_set(d, W("zone"), z); }), Err::script_out_of_range)
            << mold(z);
        EXPECT_EQ(error_of([&] { path_set(d, W("timezone"), z); }), Err::script_out_of_range);
    }
    EXPECT_EQ(error_of([&] { make(TYPE_DATE, *blk({I(1), I(1), I(2024), TM(0), TM(16 * 3600)})); }),
              Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { make(TYPE_DATE, *blk({I(1), I(1), I(2024), I(1), I(0), I(0), I(16)})); }),
              Err::script_out_of_range);
    // The edges of the range are fine.
    EXPECT_EQ(mold(path_set(d, W("zone"), TM(-(15 * 3600 + 45 * 60)))), "1-Jan-2024/12:00:00-15:45");
    EXPECT_EQ(mold(path_set(d, W("zone"), I(15))), "1-Jan-2024/12:00:00+15:00");
    EXPECT_EQ(mold(path_set(d, W("zone"), TM(-1800))), "1-Jan-2024/12:00:00-00:30");
    EXPECT_EQ(error_of([&] { path_set(d, W("zone"), str("x")[0]); }), Err::script_invalid_arg);
}

// Dates compare by their local calendar dates first, then by the stored
// time: the same instant on two different local dates is unequal.
TEST_F(DateTest, ComparesByLocalDateThenTime) {
    ValueCell west = DTM(2024, 1, 1, 23, 0, 0, -60);  // 0:00 UTC on 2 January
    ValueCell utc = DTM(2024, 1, 2, 0, 0, 0, 0);
    EXPECT_FALSE(cmp(west, CMP_EQUAL, utc));
    EXPECT_FALSE(cmp(west, CMP_STRICT_EQUAL, utc));
    EXPECT_TRUE(cmp(west, CMP_NOT_EQUAL, utc));
    EXPECT_FALSE(cmp(west, CMP_SAME, utc));
    EXPECT_TRUE(cmp(west, CMP_LESSER, utc));  // 1 January before 2 January
    EXPECT_EQ(cmp_raw(west, CMP_SORT, utc), -1);
    EXPECT_EQ(cmp_raw(utc, CMP_SORT, west), 1);
    // On the same local date the instants decide, whatever the zones.
    ValueCell later = DTM(2024, 1, 2, 0, 30, 0, 0);
    ValueCell east = DTM(2024, 1, 2, 6, 0, 0, 5 * 60 + 45);  // 0:15 UTC
    ValueCell east_same = DTM(2024, 1, 2, 5, 45, 0, 5 * 60 + 45);  // 0:00 UTC
    EXPECT_TRUE(cmp(utc, CMP_LESSER, east));
    EXPECT_TRUE(cmp(east, CMP_LESSER, later));
    EXPECT_TRUE(cmp(east_same, CMP_EQUAL, utc));
    EXPECT_FALSE(cmp(east_same, CMP_SAME, utc));
    EXPECT_EQ(cmp_raw(east_same, CMP_SORT, utc), 0);
    // The local date outweighs the instant: 1 January at 23:00-01:00 orders
    // before 2 January at 0:30+02:00, which is the earlier instant.
    ValueCell early_east = DTM(2024, 1, 2, 0, 30, 0, 2 * 60);  // 22:30 UTC on 1 January
    EXPECT_TRUE(cmp(west, CMP_LESSER, early_east));
    EXPECT_EQ(cmp_raw(west, CMP_EQUAL, I(1)), CMP_NOT_COMPARABLE);
    EXPECT_EQ(error_of([&] { cmp(west, CMP_LESSER, I(1)); }), Err::script_invalid_compare);
    // A date alone is the start of its day.
    EXPECT_TRUE(cmp(DAY(2024, 1, 2), CMP_EQUAL, utc));
    EXPECT_TRUE(cmp(DAY(2024, 1, 2), CMP_LESSER, later));
    // Years before 0 order before later ones.
    EXPECT_TRUE(cmp(DAY(-5, 12, 31), CMP_LESSER, DAY(1, 1, 1)));
}

TEST_F(DateTest, ToIntegerOutsideTheRangeIsAnError) {
    EXPECT_EQ(iget(to(TYPE_INTEGER, DTM(1970, 1, 1, 0, 0, 0))), 0);
    EXPECT_EQ(iget(to(TYPE_INTEGER, DTM(2038, 1, 19, 3, 14, 7))), 2147483647);
    EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, DTM(2038, 1, 19, 3, 14, 8)); }),
              Err::script_type_limit);
    EXPECT_EQ(iget(to(TYPE_INTEGER, DTM(1901, 12, 13, 20, 45, 52))), -2147483647 - 1);
    EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, DTM(1901, 12, 13, 20, 45, 51)); }),
              Err::script_type_limit);
    EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, DAY(9999, 1, 1)); }), Err::script_type_limit);
}

TEST_F(DateTest, EpochConversions) {
    EXPECT_EQ(mold(to(TYPE_DATE, I(0))), "1-Jan-1970/0:00:00");
    EXPECT_EQ(mold(to(TYPE_DATE, I(-1))), "31-Dec-1969/23:59:59");
}

TEST_F(DateTest, Accessors) {
    ValueCell d = DTM(2024, 3, 5, 10, 30, 15.5, 5 * 60 + 30);
    EXPECT_EQ(mold(pick(d, I(1))), "5-Mar-2024");
    EXPECT_EQ(iget(pick(d, W("year"))), 2024);
    EXPECT_EQ(iget(pick(d, W("month"))), 3);
    EXPECT_EQ(iget(pick(d, W("day"))), 5);
    EXPECT_EQ(mold(pick(d, W("zone"))), "5:30:00");
    EXPECT_EQ(mold(pick(d, W("timezone"))), "5:30:00");
    EXPECT_EQ(mold(pick(d, W("time"))), "10:30:15.5");
    EXPECT_EQ(iget(pick(d, W("hour"))), 10);
    EXPECT_EQ(iget(pick(d, W("minute"))), 30);
    EXPECT_DOUBLE_EQ(fget(pick(d, W("second"))), 15.5);
    EXPECT_EQ(iget(pick(d, I(10))), 2);  // a Tuesday
    ValueCell plain = DAY(2024, 3, 5);
    EXPECT_EQ(pick(plain, W("zone")).type(), TYPE_NONE);
    EXPECT_EQ(pick(plain, W("time")).type(), TYPE_NONE);
    EXPECT_EQ(iget(pick(DAY(2024, 1, 1), W("weekday"))), 1);
    EXPECT_EQ(iget(pick(DAY(2024, 12, 31), W("yearday"))), 366);
    EXPECT_EQ(iget(pick(DAY(2021, 1, 1), W("isoweek"))), 53);
    EXPECT_EQ(iget(pick(DAY(2021, 1, 4), W("isoweek"))), 1);
    EXPECT_EQ(error_of([&] { pick(d, I(15)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { pick(d, W("nothing")); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_get(d, I(0)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path_get(d, F(1)); }), Err::script_invalid_path);
}

TEST_F(DateTest, SettingCalendarFields) {
    ValueCell jan31 = DAY(2023, 1, 31);
    EXPECT_EQ(mold(path_set(jan31, W("month"), I(14))), "2-Mar-2024");
    EXPECT_EQ(mold(path_set(jan31, W("month"), I(0))), "31-Dec-2022");
    EXPECT_EQ(mold(path_set(DAY(2023, 3, 15), W("day"), I(0))), "28-Feb-2023");
    EXPECT_EQ(mold(path_set(DAY(2023, 3, 15), W("day"), I(32))), "1-Apr-2023");
    EXPECT_EQ(mold(path_set(DAY(2024, 2, 29), W("year"), I(2023))), "1-Mar-2023");
    EXPECT_EQ(mold(path_set(DAY(2024, 3, 6), W("weekday"), I(1))), "4-Mar-2024");
    EXPECT_EQ(mold(path_set(DAY(2024, 3, 6), W("yearday"), I(60))), "29-Feb-2024");
    EXPECT_EQ(mold(path_set(DAY(2024, 3, 6), W("julian"), I(1))), "1-Jan-2024");
    EXPECT_EQ(mold(path_set(DAY(2024, 3, 6), W("week"), I(1))), "1-Jan-2024");
    EXPECT_EQ(mold(path_set(DAY(2024, 3, 6), W("week"), I(2))), "7-Jan-2024");  // a Sunday
    EXPECT_EQ(mold(path_set(DAY(2021, 6, 1), W("isoweek"), I(1))), "4-Jan-2021");
    ValueCell with_time = DTM(2024, 3, 5, 10, 0, 0, 60);
    EXPECT_EQ(mold(path_set(with_time, W("date"), DAY(2020, 7, 4))), "4-Jul-2020");
    EXPECT_EQ(mold(path_set(with_time, W("date"), DTM(2020, 7, 4, 1, 0, 0))),
              "4-Jul-2020/10:00:00+01:00");
    EXPECT_EQ(error_of([&] { path_set(jan31, W("year"), F(2020)); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { path_set(jan31, W("year"), I(20000)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_set(jan31, W("date"), I(1)); }), Err::script_invalid_arg);
}

TEST_F(DateTest, SettingTimeFields) {
    ValueCell d = DTM(2024, 3, 5, 10, 0, 0, 5 * 60 + 30);
    EXPECT_EQ(mold(path_set(d, W("time"), TM(23 * 3600 + 59 * 60))), "5-Mar-2024/23:59:00+05:30");
    EXPECT_EQ(mold(path_set(d, W("time"), TM(25 * 3600))), "6-Mar-2024/1:00:00+05:30");
    EXPECT_EQ(mold(path_set(d, W("time"), NONE())), "5-Mar-2024");
    // Fields are set on the local time, also with a zone of half hours.
    EXPECT_EQ(mold(path_set(d, W("hour"), I(12))), "5-Mar-2024/12:00:00+05:30");
    EXPECT_EQ(mold(path_set(d, W("minute"), I(15))), "5-Mar-2024/10:15:00+05:30");
    EXPECT_EQ(mold(path_set(d, W("second"), F(7.25))), "5-Mar-2024/10:00:07.25+05:30");
    EXPECT_EQ(mold(path_set(d, W("hour"), I(24))), "6-Mar-2024/0:00:00+05:30");
    EXPECT_EQ(mold(path_set(d, W("hour"), I(-1))), "4-Mar-2024/23:00:00+05:30");
    EXPECT_EQ(mold(path_set(DAY(2024, 3, 5), W("hour"), I(8))), "5-Mar-2024/8:00:00");
    EXPECT_EQ(mold(path_set(d, W("timezone"), I(-8))), "4-Mar-2024/20:30:00-08:00");
    EXPECT_EQ(mold(path_set(d, W("zone"), I(-8))), "5-Mar-2024/10:00:00-08:00");
    EXPECT_EQ(error_of([&] { path_set(d, W("time"), I(1)); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { path_set(d, W("hour"), F(1)); }), Err::script_invalid_arg);
}

TEST_F(DateTest, SettingAFieldOfABlockElementAnnouncesIt) {
    static i32 announced_index = -1;
    static ValueCell announced_value;
    g_services.ownership_check = [](ValueCell*, ValueCell* word, ValueCell* nv, i32 index, i32) {
        EXPECT_TRUE(word != nullptr);
        announced_index = index;
        announced_value = *nv;
        return true;
    };
    ValueCell* b = blk({I(0), DAY(2024, 1, 1)});
    series_buffer(b)->flags |= SERIES_OWNED;
    ValueCell* cell = block_head_ptr(b) + 1;
    ValueCell el = word("year");
    ValueCell v = I(2030);
    ValueCell holder_item = I(2);
    action_eval_path_dispatch(cell, &el, &v, nullptr, b, &holder_item, 1, false, false, true, true);
    EXPECT_EQ(announced_index, 1);
    EXPECT_EQ(mold(announced_value), "1-Jan-2030");
    EXPECT_EQ(mold(block_head_ptr(b)[1]), "1-Jan-2030");
}

TEST_F(DateTest, Arithmetic) {
    EXPECT_EQ(iget(math(DAY(2024, 1, 1), MATH_SUBTRACT, DAY(2023, 12, 31))), 1);
    EXPECT_EQ(iget(math(DTM(2024, 1, 1, 1, 0, 0), MATH_SUBTRACT, DTM(2023, 12, 31, 23, 0, 0))), 0);
    EXPECT_EQ(mold(math(DAY(2024, 1, 1), MATH_ADD, TM(3600))), "1-Jan-2024/1:00:00");
    EXPECT_EQ(mold(math(I(2), MATH_ADD, DAY(2024, 2, 28))), "1-Mar-2024");
    EXPECT_EQ(mold(math(DAY(2024, 3, 1), MATH_SUBTRACT, I(1))), "29-Feb-2024");
    EXPECT_EQ(math_error(DAY(2024, 1, 1), MATH_ADD, DAY(2024, 1, 1)), Err::script_not_related);
    EXPECT_EQ(math_error(DAY(2024, 1, 1), MATH_ADD, F(1.5)), Err::script_invalid_type);
    EXPECT_EQ(math_error(I(2), MATH_SUBTRACT, DAY(2024, 1, 1)), Err::script_not_related);
    // Leaving the years of the packed word is an error, not a wrap.
    EXPECT_EQ(math_error(DAY(2024, 1, 1), MATH_ADD, I(2000000000)), Err::script_type_limit);
    EXPECT_EQ(math_error(DAY(16383, 12, 31), MATH_ADD, I(1)), Err::script_type_limit);
    EXPECT_EQ(math_error(DAY(2024, 1, 1), MATH_ADD, TM(kInf)), Err::script_type_limit);
}

TEST_F(DateTest, NegativeYearsFollowTheProlepticCalendar) {
    EXPECT_TRUE(date_leap_year_q(-4));
    EXPECT_TRUE(date_leap_year_q(0));
    EXPECT_EQ(mold(math(DAY(-4, 2, 28), MATH_ADD, I(1))), "29/Feb/-4");
    EXPECT_EQ(mold(math(DAY(-4, 2, 28), MATH_ADD, I(2))), "1/Mar/-4");
    EXPECT_EQ(mold(math(DAY(0, 2, 28), MATH_ADD, I(1))), "29-Feb-0000");
    EXPECT_EQ(mold(math(DAY(-1, 12, 31), MATH_ADD, I(1))), "1-Jan-0000");
    EXPECT_EQ(iget(math(DAY(1, 1, 1), MATH_SUBTRACT, DAY(-1, 1, 1))), 365 + 366);
    for (i64 g = -6000; g < 1000; g += 7) {
        u32 p = date_from_days(g, 0, false);
        EXPECT_EQ(date_to_days(p), g);
    }
    EXPECT_EQ(date_to_days(DAY(0, 3, 1).data1), 0);
    EXPECT_EQ(date_weekday_of_days(0), 3);  // a Wednesday
}

TEST_F(DateTest, TextForm) {
    EXPECT_EQ(form(DAY(2024, 1, 5)), "5-Jan-2024");
    EXPECT_EQ(mold(DTM(2024, 1, 5, 10, 30, 0)), "5-Jan-2024/10:30:00");
    EXPECT_EQ(mold(DTM(2024, 1, 5, 10, 30, 0, 330)), "5-Jan-2024/10:30:00+05:30");
    EXPECT_EQ(mold(DTM(2024, 1, 5, 10, 30, 0, -480)), "5-Jan-2024/10:30:00-08:00");
    EXPECT_EQ(mold(DAY(99, 1, 1)), "1-Jan-0099");
    EXPECT_EQ(mold(DAY(5, 1, 1)), "1-Jan-0005");
    EXPECT_EQ(mold(DAY(100, 1, 1)), "1-Jan-100");
    ValueCell v = DTM(2024, 1, 5, 10, 30, 0, 330);
    ValueCell* held = stack_push(&v);
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(action_mold_dispatch(held, out, false, false, false, nullptr, 100, 0), 100 - 25);
}

TEST_F(DateTest, MonthNamesComeFromTheSystemObject) {
    install_system({}, {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August",
                        "September", "Oktober", "November", "Dezember"});
    EXPECT_EQ(mold(DAY(2024, 3, 5)), "5-Mär-2024");
    EXPECT_EQ(mold(DAY(2024, 12, 24)), "24-Dez-2024");
    // A list whose entry is not a string! is refused.
    ValueCell* months = system_setting({"locale", "months"});
    ASSERT_NE(months, nullptr);
    block_head_ptr(months)[2] = I(3);
    EXPECT_EQ(error_of([&] { mold(DAY(2024, 3, 5)); }), Err::script_invalid_months);
}

TEST_F(DateTest, HelpersOfTheLexerAndTheFileQuery) {
    ValueCell c;
    EXPECT_FALSE(date_make_at(&c, 2024, 13, 1, 0, 0, 0, false));
    EXPECT_FALSE(date_make_at(&c, 20000, 1, 1, 0, 0, 0, false));
    EXPECT_FALSE(date_make_at(&c, 2024, 1, 1, 0, 16, 0, true));
    ASSERT_TRUE(date_make_at(&c, 2024, 1, 1, 3600, 0, -30, true));
    EXPECT_EQ(mold(c), "1-Jan-2024/1:00:00-00:30");
    date_make_from_parts(&c, 2023, 6, 30, 23, 59, 58, 500000000);
    EXPECT_EQ(mold(c), "30-Jun-2023/23:59:58.5");
    date_set_week(&c, 1);
    EXPECT_EQ(mold(c), "2-Jan-2023/23:59:58.5");
    date_set_weekday(&c, 7);
    EXPECT_EQ(mold(c), "8-Jan-2023/23:59:58.5");
    date_set_yearday(&c, 365);
    EXPECT_EQ(mold(c), "31-Dec-2023/23:59:58.5");
}

TEST_F(DateTest, Random) {
    install_random();
    ValueCell d = DAY(2024, 1, 1);
    ValueCell r = call({d}, [] { action_random(-1, -1, -1); });
    EXPECT_EQ(r.type(), TYPE_DATE);
    EXPECT_TRUE(cmp(r, CMP_LESSER, d));
    EXPECT_FALSE(date_has_time(r.data1));
    ValueCell t = DTM(2024, 1, 1, 12, 0, 0);
    ValueCell rt = call({t}, [] { action_random(-1, -1, -1); });
    EXPECT_TRUE(date_has_time(rt.data1));
    double local = date_time_add_zone(fget(rt), date_zone_bits(rt.data1));
    EXPECT_GE(local, 0.0);
    EXPECT_LE(local, 86400.0);
    EXPECT_EQ(std::fmod(local, 24.0), 0.0);
    ValueCell s = call({d}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(s.type(), TYPE_UNSET);
    EXPECT_EQ(last_seed_, d.data1);
}

}  // namespace
}  // namespace zan::test
