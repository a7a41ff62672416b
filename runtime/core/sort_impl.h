// The quicksort of sort.h as a template over the record operations, so that
// a caller whose comparison is simple (cells of integers) gets it inlined
// while doing exactly the comparisons and exchanges of sort_quick, and so
// ends with the same order.
#pragma once
#include <cstdint>

#include "runtime/core/sort.h"

namespace zan {
namespace sort_detail {

inline int sign_of(i32 r) { return (r > 0) - (r < 0); }

// Record-indexed access to the array being sorted. Ops gives the record
// size, the comparison of two records (its sign) and their exchange.
template <class Ops>
struct SorterOf {
    u8* base;
    Ops ops;

    u8* at(u64 i) const { return base + i * ops.size(); }
    int cmp(u64 i, u64 j) const { return ops.cmp(at(i), at(j)); }
    void swap(u64 i, u64 j) const { ops.swap(at(i), at(j)); }

    // Exchanges records i and j when record i compares above record j.
    void order(u64 i, u64 j) const {
        if (cmp(i, j) > 0) swap(i, j);
    }

    void reverse(u64 lo, u64 hi) const {
        while (hi > lo + 1) {
            hi--;
            swap(lo, hi);
            lo++;
        }
    }

    // Straight insertion of the records [from, hi) into [lo, from): each is
    // swapped backwards while its predecessor compares above it.
    void insertion(u64 lo, u64 from, u64 hi) const {
        for (u64 j = from; j < hi; j++)
            for (u64 k = j; k > lo && cmp(k - 1, k) > 0; k--) swap(k - 1, k);
    }

    // Brings the records [src, src + count) to [dst, dst + count), one swap
    // per record; the records they displace end up where the block was. The
    // two blocks may overlap.
    void block_swap(u64 dst, u64 src, u64 count) const {
        if (dst == src) return;
        if (dst < src) {
            for (u64 i = 0; i < count; i++) swap(dst + i, src + i);
        } else {
            for (u64 i = count; i-- > 0;) swap(dst + i, src + i);
        }
    }
};

// ---- quicksort -------------------------------------------------------------

template <class S>
void quick_range(const S& s, u64 lo, i64 k, u64 count) {
    for (;;) {
        if (count <= SORT_SMALL_RANGE) {
            s.insertion(lo, lo + 1, lo + count);
            return;
        }
        u64 known = static_cast<u64>(k < 0 ? -k : k);
        if (known >= count) return;  // the whole range is the sorted sample

        // The working region [lo, lo + region): lower sample records, the
        // pivot, records to partition, upper sample records.
        u64 region, lower, upper;
        if (known <= 2) {
            region = count >= 512 ? 63 : count;
            s.swap(lo + 1, lo + region / 2);
            s.order(lo, lo + 1);
            s.order(lo + 1, lo + region - 1);
            s.order(lo, lo + 1);
            lower = 1;
            upper = 1;
        } else {
            region = known > count / 256 ? count : 16 * known - 1;
            if (k < 0) s.block_swap(lo, lo + count - known, known);
            if (region < count) {
                // Records spread evenly over the range join the sample.
                u64 step = count / region;
                for (u64 i = known; i < region; i++) s.swap(lo + i, lo + i * step);
            }
            lower = known / 2;
            upper = known - lower - 1;
            s.block_swap(lo + region - upper, lo + lower + 1, upper);
        }

        // Three-way partition of [pv + 1, hi) around the pivot at pv: records
        // equal to the pivot are first gathered at both ends, then moved next
        // to it.
        const i64 pv = static_cast<i64>(lo + lower);
        const i64 hi = static_cast<i64>(lo + region - upper);
        i64 a = pv + 1, b = pv + 1, c = hi - 1, d = hi - 1;
        for (;;) {
            while (b <= c) {
                int r = s.cmp(b, pv);
                if (r > 0) break;
                if (r == 0) s.swap(a++, b);
                b++;
            }
            while (b <= c) {
                int r = s.cmp(c, pv);
                if (r < 0) break;
                if (r == 0) s.swap(c, d--);
                c--;
            }
            if (b > c) break;
            s.swap(b++, c--);
        }
        const i64 n_less = b - a;
        const i64 n_eq = (a - pv) + (hi - 1 - d);
        i64 t = a - pv < n_less ? a - pv : n_less;
        for (i64 i = 0; i < t; i++) s.swap(pv + i, b - t + i);
        const i64 n_greater = d + 1 - b;
        t = hi - 1 - d < n_greater ? hi - 1 - d : n_greater;
        for (i64 i = 0; i < t; i++) s.swap(b + i, hi - t + i);

        const u64 left_count = lower + static_cast<u64>(n_less);
        const u64 right_start = lo + left_count + static_cast<u64>(n_eq);
        const u64 right_count = lo + region - right_start;
        quick_range(s, right_start, -static_cast<i64>(upper), right_count);
        if (region == count) {
            k = static_cast<i64>(lower);
            count = left_count;
            continue;
        }
        quick_range(s, lo, static_cast<i64>(lower), left_count);
        // The region is sorted now: it is the next, larger sample.
        k = static_cast<i64>(region);
    }
}

// sort_quick over records that ops compares and exchanges.
template <class Ops>
void sort_quick_with(void* base, u32 n, const Ops& ops) {
    if (n < 2 || ops.size() == 0) return;
    const SorterOf<Ops> s{static_cast<u8*>(base), ops};

    // Leading run; dir +1 ascending, -1 descending, 0 while undecided. A
    // comparison whose sign equals dir is a pair out of order.
    int dir = 0;
    u64 run = n;
    for (u64 i = 1; i < n; i++) {
        int r = s.cmp(i - 1, i);
        if (dir == 0) {
            dir = -r;
        } else if (r == dir) {
            run = i;
            break;
        }
    }
    if (dir == 0) return;  // every record compares equal to its neighbour

    i64 score = static_cast<i64>(run) * dir;
    for (u64 j = run; j < n; j += 97) score -= s.cmp(j - 1, j);

    u64 last = run - 1;  // last record of the ordered prefix
    auto in_order = [&](u64 i, u64 j) { return s.cmp(i, j) != dir; };
    if ((score < 0 ? -score : score) > static_cast<i64>(n / 512)) {
        // Mostly ordered: gather ordered stretches from the rest of the array
        // onto the end of the prefix.
        bool single = false;
        int want = score > 0 ? 1 : -1;
        if (dir != want) {
            last = 0;
            dir = want;
            single = true;
        }
        u64 pos = last;
        for (;;) {
            u64 x = pos + 10;
            if (x >= n) break;
            u64 y = x - 1;
            while (x < n && in_order(x - 1, x)) x++;
            while (y - 1 > last && in_order(y - 1, y)) y--;
            pos = x;
            if (x - y < 4) continue;
            if (single) {
                s.block_swap(0, y, x - y);
                last = x - y - 1;
                single = false;
                continue;
            }
            // Give up as few records as possible at the joint so that the
            // prefix still ends no later than the stretch begins.
            u64 len = x - y;
            u64 f = len / 2 < (last + 1) / 4 ? len / 2 : (last + 1) / 4;
            u64 g = 0;
            while (g < f && !in_order(last - g, y + g)) g++;
            if (g == f) continue;
            last -= g;
            y += g;
            if (y == last + 1) {
                last = x - 1;
            } else {
                s.block_swap(last + 1, y, x - y);
                last += x - y;
            }
        }
    }
    if (dir < 0) s.reverse(0, last + 1);
    if (last + 1 < n) quick_range(s, 0, static_cast<i64>(last + 1), n);
}

// The operations of sort.h's callers: a comparison callback with its two
// context words, records exchanged by sort_swap.
struct CallbackOps {
    SortContext c;
    u32 size() const { return c.size; }
    int cmp(const u8* a, const u8* b) const { return sign_of(c.cmp(a, b, c.arg, c.flags)); }
    void swap(u8* a, u8* b) const { sort_swap(a, b, c.size, c.bytewise); }
};

}  // namespace sort_detail
}  // namespace zan
