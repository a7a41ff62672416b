// Case folding and terminal width of code points.
//
// Case folding uses the simple (one code point to one code point) case
// mappings of the Unicode Character Database: two direct tables of 65536
// entries for the Basic Multilingual Plane, built once, and sorted pair
// tables above it. Text comparison, the text hash of the hash tables and
// case-insensitive matching fold with case_folding_change_char(cp, false).
//
// Width is the number of terminal columns a code point takes; the line
// editor and the text-mode back end place the cursor with it.
#pragma once
#include <array>

#include "runtime/core/cell.h"
#include "runtime/core/unicode_tables.h"

namespace zan {

// Builds the direct tables. Runs once (later calls do nothing); the fold
// functions also run it on first use.
void case_folding_init();

// The upper-case (upper) or lower-case partner of cp, or cp itself when it
// has none. Code points up to 0xFFFF take one table read.
u32 case_folding_change_char(u32 cp, bool upper);
// Simple lower-case fold, the key of case-insensitive comparison and hashing.
inline u32 case_fold(u32 cp) { return case_folding_change_char(cp, false); }
// case_fold with ASCII answered inline (its only change there is A-Z to a-z).
inline u32 case_fold_fast(u32 cp) {
    if (cp < 128) return cp - 'A' < 26u ? cp + 32 : cp;
    return case_folding_change_char(cp, false);
}

// The fold of every byte unit (code point below 256): a capital letter of
// ASCII or of Latin-1 (0xC0 to 0xDE but 0xD7) becomes small, the rest
// stays; what case_fold answers for them (a unit test compares the two).
inline constexpr std::array<u8, 256> k_case_fold_bytes = [] {
    std::array<u8, 256> t{};
    for (u32 c = 0; c < 256; c++)
        t[c] = static_cast<u8>((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)
                                   ? c + 32
                                   : c);
    return t;
}();

// Compares n byte units of two texts: the sign of the first difference of
// their folded values (of their values with fold false), 0 when there is
// none. Eight bytes are taken at a time, and eight ASCII bytes folded at
// once.
int case_fold_compare_bytes(const u8* a, const u8* b, size_t n, bool fold = true);

// The first eight byte units of a text of n, folded unless fold is false,
// zero-padded, as a number whose order is that of the texts wherever two
// keys differ (equal keys say nothing).
u64 case_fold_prefix_key(const u8* p, size_t n, bool fold);

// Changes a char! cell or a text cell (string!, file!, url!, tag!, email!,
// ref!) in place and returns it. For text: an index past the tail is first
// pulled back to the tail; the range runs from the index to the tail, or
// over part code points: an integer! (negative counts as 0) or a series of
// the same type on the same buffer (the difference of the indexes, negative
// as 0), at most up to the tail. null or a none! part means no limit; any
// other part raises script error invalid-refine-arg. A changed code point
// that the unit cannot hold widens the buffer. Any other value type raises
// script error invalid-arg. The text cell must not live inside a series
// buffer (widening allocates).
ValueCell* case_folding_change(ValueCell* value, const ValueCell* part, bool upper);

// Called after a text value was changed, with the index and the number of
// code points of the range; ownership tracking installs it to announce the
// change (uppercase / lowercase) to the value's owner.
using CaseChangeNotify = void (*)(ValueCell* value, bool upper, u32 index, u32 count);
void case_folding_set_notify(CaseChangeNotify fn);
// The refinement! word /part named by invalid-refine-arg (set at start-up
// once the word exists; until then a refinement! cell with symbol 0).
void case_folding_set_part_word(const ValueCell* word);

// 1 when cp lies in one of the ranges of table (sorted inclusive
// [low, high] pairs, entries 32-bit words in all), else 0.
i32 char_width_in_ranges(u32 cp, const u32* table, u32 entries);
// Columns cp takes: 0 for NUL and zero-width code points (combining marks,
// format characters), 2 for East Asian Wide and Fullwidth, else 1 (control
// characters included).
i32 char_width(u32 cp);
// For a terminal known to show ambiguous-width code points double; the
// console and the text-mode back end measure with char_width today.
// As char_width for terminals that show ambiguous-width code points double:
// those give 2, except zero-width ones, which stay 0.
i32 char_width_cjk(u32 cp);

}  // namespace zan
