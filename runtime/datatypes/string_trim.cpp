// trim on the text types: white space off the ends (and around line feeds),
// collapsed white space (/lines), or every code point of a set (/all,
// /with). Trimming only ever removes code points or puts back a space or a
// line feed, so the text is rewritten in place at its own width.
#include <algorithm>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string_search.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
i32 clamped_index(ValueCell* s) {
    i32 len = series_buffer_length(s);
    i32 idx = series_index(s);
    if (idx > len) {
        idx = len;
        series_set_index(s, idx);
    }
    return idx < 0 ? 0 : idx;
}

// The code points from the index to the tail.
std::vector<u32> read_units(ValueCell* s) {
    i32 idx = clamped_index(s);
    i32 len = series_buffer_length(s);
    SeriesBuffer* b = series_of(s);
    u32 unit = b->unit();
    std::vector<u32> out;
    out.reserve(static_cast<size_t>(len - idx));
    for (i32 i = idx; i < len; i++)
        out.push_back(unicode_get_unit(b->head_ptr() + static_cast<u64>(i) * unit, unit));
    return out;
}

// Replaces the text from the index to the tail.
void write_units(ValueCell* s, const std::vector<u32>& units) {
    i32 idx = clamped_index(s);
    SeriesBuffer* b = series_of(s);
    u32 unit = b->unit();
    u8* p = b->head_ptr() + static_cast<u64>(idx) * unit;
    for (u32 cp : units) {
        unicode_put_unit(p, unit, cp);
        p += unit;
    }
    b->tail =
        b->head + static_cast<u32>(static_cast<u64>(idx + static_cast<i64>(units.size())) * unit);
}

// The set of /with: small sets are scanned, larger ones searched sorted.
struct CodeSet {
    std::vector<u32> cps;
    void add(u32 cp) { cps.push_back(cp); }
    void seal() {
        if (cps.size() > 8) std::sort(cps.begin(), cps.end());
    }
    bool has(u32 cp) const {
        if (cps.size() > 8) return std::binary_search(cps.begin(), cps.end(), cp);
        return std::find(cps.begin(), cps.end(), cp) != cps.end();
    }
};
}  // namespace

bool string_white_space_q(u32 cp) {
    if (cp >= 1 && cp <= 32) return true;
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || cp == 0x180E ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

bool string_blank_q(u32 cp) {
    return cp == ' ' || cp == '\t' || (cp >= 0x85 && string_white_space_q(cp));
}

void string_trim_with(ValueCell* series, ValueCell* with) {
    CodeSet set;
    if (!with) {
        for (u32 cp : {9u, 10u, 13u, 32u})
            set.add(cp);
    } else if (with->type() == TYPE_CHAR) {
        set.add(dt::char_get(with));
    } else if (with->type() == TYPE_INTEGER) {
        set.add(static_cast<u32>(dt::int_get(with)));
    } else if (type_string_like(with->type()) || with->type() == TYPE_BINARY) {
        ValueCell w = *with;
        for (u32 cp : read_units(&w))
            set.add(cp);
    } else {
        fire(Err::script_invalid_arg, with);
    }
    set.seal();
    std::vector<u32> units = read_units(series);
    std::erase_if(units, [&](u32 cp) { return set.has(cp); });
    write_units(series, units);
}

void string_trim_ws(ValueCell* series) {
    std::vector<u32> in = read_units(series);
    std::vector<u32> out;
    out.reserve(in.size());
    bool pending = false;
    for (u32 cp : in) {
        if (string_white_space_q(cp)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out.push_back(' ');
        pending = false;
        out.push_back(cp);
    }
    write_units(series, out);
}

void string_trim_modes(ValueCell* series, bool head, bool tail) {
    std::vector<u32> in = read_units(series);
    bool both = !head && !tail;
    size_t b = 0, e = in.size();
    if (head || both)
        while (b < e && string_white_space_q(in[b]))
            b++;
    bool had_lf = false;
    if (tail || both)
        while (e > b && string_white_space_q(in[e - 1])) {
            if (in[e - 1] == '\n') had_lf = true;
            e--;
        }
    std::vector<u32> out;
    out.reserve(e - b + 1);
    if (!both) {
        out.assign(in.begin() + static_cast<std::ptrdiff_t>(b),
                   in.begin() + static_cast<std::ptrdiff_t>(e));
    } else {
        // Inside, a run of blanks right after a line feed or right before
        // one goes.
        for (size_t i = b; i < e; i++) {
            if (!string_blank_q(in[i])) {
                out.push_back(in[i]);
                continue;
            }
            size_t j = i;
            while (j < e && string_blank_q(in[j]))
                j++;
            bool after_lf = !out.empty() && out.back() == '\n';
            bool before_lf = j < e && in[j] == '\n';
            if (!after_lf && !before_lf)
                out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                           in.begin() + static_cast<std::ptrdiff_t>(j));
            i = j - 1;
        }
        if (had_lf) out.push_back('\n');
    }
    write_units(series, out);
}

void string_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                 ValueCell* with) {
    ValueCell* s = stack_push(series);
    if (!all && !with && auto_) fire(Err::internal_not_done);
    i32 idx = clamped_index(s);
    bool owned = series_announce(s, g_words.n.trim, nullptr, idx, 0);
    if (all || with) string_trim_with(s, with);
    else if (lines) string_trim_ws(s);
    else string_trim_modes(s, head, tail);
    if (owned) series_announce(s, g_words.n.trimmed, nullptr, idx, 0);
    ValueCell r = *s;
    stack_pop(1);
    *stack_result() = r;
}

}  // namespace zan
