#include "runtime/core/case_folding.h"
#include "runtime/core/layout.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/unicode.h"

namespace zan {

namespace {

constexpr u32 DIRECT_SIZE = 0x10000;

// Direct tables: entry 0 means the code point is unchanged. 512 KB in all,
// built once and kept for the whole run.
u32 g_upper[DIRECT_SIZE];
u32 g_lower[DIRECT_SIZE];
bool g_ready = false;

CaseChangeNotify g_notify = nullptr;
ValueCell g_part_word = {TYPE_REFINEMENT, 0, 0, 0};

void fill(u32* table, const CasePair* pairs, u32 n) {
    for (u32 i = 0; i < n; i++) table[pairs[i].from] = pairs[i].to;
}

u32 change_astral(u32 cp, const CasePair* pairs, u32 n) {
    if (n == 0 || cp < pairs[0].from || cp > pairs[n - 1].from) return cp;
    const CasePair* end = pairs + n;
    const CasePair* it =
        std::lower_bound(pairs, end, cp, [](const CasePair& p, u32 v) { return p.from < v; });
    return it != end && it->from == cp ? it->to : cp;
}

bool is_text_type(u32 t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
           t == TYPE_EMAIL || t == TYPE_REF;
}

}  // namespace

void case_folding_init() {
    if (g_ready) return;
    // The tables start zeroed (static storage): only the mapped entries are
    // written, so the pages no entry falls in are never touched.
    fill(g_upper, case_table_upper_bmp, CASE_UPPER_BMP_PAIRS);
    fill(g_lower, case_table_lower_bmp, CASE_LOWER_BMP_PAIRS);
    g_ready = true;
}

u32 case_folding_change_char(u32 cp, bool upper) {
    if (cp < DIRECT_SIZE) {
        if (!g_ready) [[unlikely]]
            case_folding_init();
        u32 v = (upper ? g_upper : g_lower)[cp];
        return v ? v : cp;
    }
    return upper ? change_astral(cp, case_table_upper_astral, CASE_UPPER_ASTRAL_PAIRS)
                 : change_astral(cp, case_table_lower_astral, CASE_LOWER_ASTRAL_PAIRS);
}

namespace {
constexpr u64 ONES = 0x0101010101010101ull;
constexpr u64 HIGH_BITS = 0x8080808080808080ull;

// Eight ASCII bytes with A-Z made small: the high bit of a lane is set
// where the byte is at least 'A', and again where it is above 'Z' (no lane
// carries into the next: every byte is below 0x80).
inline u64 fold_ascii_word(u64 w) {
    u64 from_a = w + (0x80 - 'A') * ONES;
    u64 past_z = w + (0x80 - 'Z' - 1) * ONES;
    u64 upper = (from_a ^ past_z) & HIGH_BITS;
    return w | (upper >> 2);
}

inline u64 load_word(const u8* p) {
    u64 w;
    std::memcpy(&w, p, 8);
    return w;
}
}  // namespace

int case_fold_compare_bytes(const u8* a, const u8* b, size_t n, bool fold) {
    if (!fold) {
        int r = n ? std::memcmp(a, b, n) : 0;
        return (r > 0) - (r < 0);
    }
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        u64 x = load_word(a + i), y = load_word(b + i);
        if (x == y) continue;
        if (((x | y) & HIGH_BITS) == 0) {
            x = fold_ascii_word(x);
            y = fold_ascii_word(y);
            if (x == y) continue;
            unsigned shift = static_cast<unsigned>(__builtin_ctzll(x ^ y)) & ~7u;
            return ((x >> shift) & 0xFF) < ((y >> shift) & 0xFF) ? -1 : 1;
        }
        break;  // a byte beyond ASCII: the rest one byte at a time
    }
    for (; i < n; i++) {
        u8 x = k_case_fold_bytes[a[i]], y = k_case_fold_bytes[b[i]];
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

u64 case_fold_prefix_key(const u8* p, size_t n, bool fold) {
    u8 bytes[8] = {};
    size_t k = n < 8 ? n : 8;
    if (k) std::memcpy(bytes, p, k);
    u64 w = load_word(bytes);
    if (fold) {
        if ((w & HIGH_BITS) == 0) {
            w = fold_ascii_word(w);
        } else {
            for (size_t i = 0; i < k; i++) bytes[i] = k_case_fold_bytes[bytes[i]];
            w = load_word(bytes);
        }
    }
    return __builtin_bswap64(w);
}

void case_folding_set_notify(CaseChangeNotify fn) { g_notify = fn; }

void case_folding_set_part_word(const ValueCell* word) {
    g_part_word = *word;
}

ValueCell* case_folding_change(ValueCell* value, const ValueCell* part, bool upper) {
    u32 type = value->type();
    if (type == TYPE_CHAR) {
        set_int_word(value, case_folding_change_char(int_word(value), upper));
        return value;
    }
    if (!is_text_type(type)) fire(Err::script_invalid_arg, value);

    SeriesBuffer* b = series_of(value);
    u32 unit = b->unit();
    u32 total = b->used_bytes() >> unicode_unit_shift(unit);
    if (static_cast<u32>(series_index(value)) > total) series_set_index(value, static_cast<i32>(total));
    u32 index = static_cast<u32>(series_index(value));
    u32 count = total - index;
    if (part && part->type() != TYPE_NONE) {
        i64 n;
        if (part->type() == TYPE_INTEGER) {
            n = static_cast<i32>(int_word(part));
        } else if (part->type() == type && series_node(part) == series_node(value)) {
            n = i64(static_cast<u32>(series_index(part))) - index;
        } else {
            fire(Err::script_invalid_refine_arg, &g_part_word, part);
        }
        if (n < 0) n = 0;
        if (n < count) count = static_cast<u32>(n);
    }

    // Widening allocates: keep the value (and its buffer) reachable.
    std::optional<GcRoot> keep;
    for (u32 i = 0; i < count; i++) {
        u32 pos = index + i;
        u32 cp = unicode_get_unit(b->head_ptr() + pos * unit, unit);
        u32 nc = case_folding_change_char(cp, upper);
        if (nc == cp) continue;
        if (unicode_unit_for(nc) > unit) {
            if (!keep) keep.emplace(value);
            b = unicode_widen_for(b, nc);
            unit = b->unit();
        }
        unicode_put_unit(b->head_ptr() + pos * unit, unit, nc);
    }
    if (g_notify) g_notify(value, upper, index, count);
    return value;
}

// ---- width ------------------------------------------------------------------

i32 char_width_in_ranges(u32 cp, const u32* table, u32 entries) {
    u32 n = entries / 2;
    if (n == 0 || cp < table[0] || cp > table[2 * n - 1]) return 0;
    // Last range whose low bound is not above cp.
    u32 lo = 0, hi = n;
    while (hi - lo > 1) {
        u32 mid = (lo + hi) / 2;
        if (table[2 * mid] <= cp) lo = mid;
        else hi = mid;
    }
    return cp <= table[2 * lo + 1] ? 1 : 0;
}

i32 char_width(u32 cp) {
    if (cp == 0) return 0;
    if (cp < 32 || (cp >= 127 && cp <= 159)) return 1;
    if (char_width_in_ranges(cp, width_table_zero, WIDTH_ZERO_ENTRIES)) return 0;
    if (char_width_in_ranges(cp, width_table_double, WIDTH_DOUBLE_ENTRIES)) return 2;
    return 1;
}

i32 char_width_cjk(u32 cp) {
    i32 w = char_width(cp);
    if (w != 0 && char_width_in_ranges(cp, width_table_ambiguous, WIDTH_AMBIGUOUS_ENTRIES)) return 2;
    return w;
}

}  // namespace zan
