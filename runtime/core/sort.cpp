#include "runtime/core/sort.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/core/errors.h"

namespace zan {

void sort_swap(void* a, void* b, u32 size, bool bytewise) {
    u8* p = static_cast<u8*>(a);
    u8* q = static_cast<u8*>(b);
    u32 i = 0;
    if (!bytewise) {
        for (; i + 4 <= size; i += 4) {
            u32 x, y;
            std::memcpy(&x, p + i, 4);
            std::memcpy(&y, q + i, 4);
            std::memcpy(p + i, &y, 4);
            std::memcpy(q + i, &x, 4);
        }
    }
    for (; i < size; i++) {
        u8 t = p[i];
        p[i] = q[i];
        q[i] = t;
    }
}

namespace {

inline int sign_of(i32 r) { return (r > 0) - (r < 0); }

// Record-indexed access to the array being sorted.
struct Sorter {
    u8* base;
    SortContext c;

    u8* at(u64 i) const { return base + i * c.size; }
    int cmp(u64 i, u64 j) const { return sign_of(c.cmp(at(i), at(j), c.arg, c.flags)); }
    void swap(u64 i, u64 j) const { sort_swap(at(i), at(j), c.size, c.bytewise); }

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

// ---- merge sort ------------------------------------------------------------

// Finds the natural run that starts at i and makes it at least SORT_MIN_RUN
// records long (or up to the end); returns its end.
u64 next_run(const Sorter& s, u64 i, u64 n) {
    u64 j = i + 1;
    if (j < n) {
        j++;
        if (s.cmp(i, i + 1) > 0) {
            // Strictly descending: equal neighbours end it, so that reversing
            // it cannot change the order of equal records.
            while (j < n && s.cmp(j - 1, j) > 0) j++;
            s.reverse(i, j);
        } else {
            while (j < n && s.cmp(j - 1, j) <= 0) j++;
        }
    }
    if (j - i < SORT_MIN_RUN) {
        u64 end = i + SORT_MIN_RUN < n ? i + SORT_MIN_RUN : n;
        s.insertion(i, j, end);
        j = end;
    }
    return j;
}

// The depth in the merge tree of the boundary between the runs [s1, e1) and
// [e1, e2): the first bit in which the midpoints of the two runs, as
// fractions of n, differ.
u32 node_power(u64 s1, u64 e1, u64 e2, u64 n) {
    u64 a = s1 + e1;
    u64 b = e1 + e2;
    u32 count = 0;
    for (;;) {
        if (a < n && n <= b) break;
        count++;
        if (a >= n && b >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return count + 1;
}

struct FreeDeleter {
    void operator()(u8* p) const { std::free(p); }
};

// What is left in the side buffer goes into the gap of the same size that
// the merge has left open; this also runs when a comparison raises, so that
// no record is lost.
struct CopyBack {
    u8*& gap;
    u8* const& from;
    u8* const& to;
    ~CopyBack() {
        if (to > from) std::memcpy(gap, from, static_cast<size_t>(to - from));
    }
};

}  // namespace

void sort_merge_step(u8* s1, u8* e1, u8* e2, u8* buf, const SortContext& ctx) {
    const size_t sz = ctx.size;
    const size_t bytes1 = static_cast<size_t>(e1 - s1);
    const size_t bytes2 = static_cast<size_t>(e2 - e1);
    if (!bytes1 || !bytes2) return;
    auto before = [&](const u8* a, const u8* b) {
        return ctx.cmp(a, b, ctx.arg, ctx.flags) > 0;
    };
    if (bytes2 < bytes1) {
        // The second run is in the buffer; fill the range from its end.
        std::memcpy(buf, e1, bytes2);
        u8* p = e1;              // end of what is left of the first run
        u8* bq = buf + bytes2;   // end of what is left in the buffer
        u8* dest = e2;
        u8* const bufc = buf;
        CopyBack guard{p, bufc, bq};
        while (p > s1 && bq > buf) {
            dest -= sz;
            if (before(p - sz, bq - sz)) {
                p -= sz;
                std::memcpy(dest, p, sz);
            } else {
                bq -= sz;
                std::memcpy(dest, bq, sz);
            }
        }
    } else {
        // The first run is in the buffer; fill the range from its start.
        std::memcpy(buf, s1, bytes1);
        u8* bp = buf;
        u8* const bend = buf + bytes1;
        u8* q = e1;
        u8* dest = s1;
        CopyBack guard{dest, bp, bend};
        while (bp < bend && q < e2) {
            if (before(bp, q)) {
                std::memcpy(dest, q, sz);
                q += sz;
            } else {
                std::memcpy(dest, bp, sz);
                bp += sz;
            }
            dest += sz;
        }
    }
}

void sort_merge(void* base, u32 n, u32 size, uintptr_t arg, u32 flags, SortCompare cmp) {
    if (n < 2 || size == 0) return;
    u64 bytes = u64(n / 2) * size;
    if (bytes > 0x7FFFFFFFu) fire(Err::script_too_long);
    std::unique_ptr<u8, FreeDeleter> buf(static_cast<u8*>(std::malloc(bytes)));
    if (!buf) fire(Err::internal_no_memory);

    const Sorter s{static_cast<u8*>(base), SortContext{size, size % 4 != 0, arg, flags, cmp}};
    // Pending runs, each with the power of the boundary to its right. The
    // powers on the stack rise strictly and never exceed the bit length of n.
    struct Pending {
        u64 start;
        u32 power;
    };
    Pending stack[34];
    int top = 0;

    u64 s1 = 0;
    u64 e1 = next_run(s, 0, n);
    while (e1 < n) {
        u64 s2 = e1;
        u64 e2 = next_run(s, s2, n);
        u32 power = node_power(s1, e1, e2, n);
        while (top > 0 && stack[top - 1].power >= power) {
            top--;
            sort_merge_step(s.at(stack[top].start), s.at(s1), s.at(e1), buf.get(), s.c);
            s1 = stack[top].start;
        }
        if (top == static_cast<int>(sizeof stack / sizeof stack[0]))
            runtime_fatal(3, "merge sort run stack overflow");
        stack[top++] = Pending{s1, power};
        s1 = s2;
        e1 = e2;
    }
    while (top > 0) {
        top--;
        sort_merge_step(s.at(stack[top].start), s.at(s1), s.at(n), buf.get(), s.c);
        s1 = stack[top].start;
    }
}

// ---- quicksort -------------------------------------------------------------

namespace {

void quick_range(const Sorter& s, u64 lo, i64 k, u64 count) {
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

}  // namespace

void sort_quick_range(void* base, i32 k, u32 n, u32 size, uintptr_t arg, u32 flags,
                      SortCompare cmp) {
    if (size == 0) return;
    const Sorter s{static_cast<u8*>(base), SortContext{size, size % 4 != 0, arg, flags, cmp}};
    quick_range(s, 0, k, n);
}

void sort_quick(void* base, u32 n, u32 size, uintptr_t arg, u32 flags, SortCompare cmp) {
    if (n < 2 || size == 0) return;
    const Sorter s{static_cast<u8*>(base), SortContext{size, size % 4 != 0, arg, flags, cmp}};

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

}  // namespace zan
