// The lexer's makers for the values whose layout belongs to their own
// datatype: each loader checks its text fully and then builds the value
// here, through the datatype's maker.
#include <cstring>
#include <vector>

#include "runtime/core/errors.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/lexer/lexer_internal.h"

namespace zan {

void lexer_make_binary(ValueCell* cell, const u8* bytes, u32 count) {
    binary_load_at(cell, bytes, count);
}

void lexer_make_tuple(ValueCell* cell, const u8* parts, u32 count) {
    tuple_make_at(cell, parts, count);
}

void lexer_make_pair(ValueCell* cell, i32 x, i32 y) { pair_make_at(cell, x, y); }

void lexer_make_point2d(ValueCell* cell, double x, double y) {
    point2d_make_at(cell, static_cast<float>(x), static_cast<float>(y));
}

void lexer_make_point3d(ValueCell* cell, double x, double y, double z) {
    point3d_make_at(cell, static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

bool lexer_make_date(ValueCell* cell, const LexerDate& d) {
    if (!date_make_at(cell, d.year, d.month, d.day, d.time, d.zone_hours, d.zone_minutes,
                      d.has_time))
        return false;
    if (d.week) {
        date_set_week(cell, d.week);
        if (d.weekday) date_set_weekday(cell, d.weekday);
    }
    if (d.yearday) date_set_yearday(cell, d.yearday);
    return true;
}

bool lexer_make_money(ValueCell* cell, bool negative, const u8* currency, const u8* int_start,
                      const u8* int_end, const u8* frac_start, const u8* frac_end) {
    ValueCell word;
    if (currency) {
        word_make_at(symbol_make_text(reinterpret_cast<const char*>(currency), 3), &word);
    }
    // The digits as the maker reads them: integer digits, "." and fraction.
    std::vector<u8> digits(int_start, int_end);
    if (frac_end > frac_start) {
        digits.push_back('.');
        digits.insert(digits.end(), frac_start, frac_end);
    }
    return money_make_at(cell, negative, currency ? &word : nullptr, digits.data(),
                         digits.data() + digits.size(), 1);
}

void lexer_make_map(ValueCell* cell, const ValueCell* cells, u32 count) {
    map_make_from_cells(cell, cells, count);
}

bool lexer_map_key_type_ok(u32 type) { return map_key_type_ok(type); }

}  // namespace zan
