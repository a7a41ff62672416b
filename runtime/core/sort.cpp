#include "runtime/core/sort.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/core/errors.h"
#include "runtime/core/sort_impl.h"

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

using Sorter = sort_detail::SorterOf<sort_detail::CallbackOps>;

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

    const Sorter s{static_cast<u8*>(base), {SortContext{size, size % 4 != 0, arg, flags, cmp}}};
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
            sort_merge_step(s.at(stack[top].start), s.at(s1), s.at(e1), buf.get(), s.ops.c);
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
        sort_merge_step(s.at(stack[top].start), s.at(s1), s.at(n), buf.get(), s.ops.c);
        s1 = stack[top].start;
    }
}

// ---- quicksort -------------------------------------------------------------

void sort_quick_range(void* base, i32 k, u32 n, u32 size, uintptr_t arg, u32 flags,
                      SortCompare cmp) {
    if (size == 0) return;
    const Sorter s{static_cast<u8*>(base),
                   {SortContext{size, size % 4 != 0, arg, flags, cmp}}};
    sort_detail::quick_range(s, 0, k, n);
}

void sort_quick(void* base, u32 n, u32 size, uintptr_t arg, u32 flags, SortCompare cmp) {
    sort_detail::sort_quick_with(base, n,
                                 sort_detail::CallbackOps{SortContext{size, size % 4 != 0, arg,
                                                                      flags, cmp}});
}

}  // namespace zan
