#include "runtime/core/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/errors.h"

namespace zan {
namespace {

// The flags word the series actions build for their comparisons.
u32 sort_flags_make(bool reverse, bool all, u32 arg) {
    return (reverse ? SORT_FLAG_REVERSE : 0) | (all ? SORT_FLAG_ALL : 0) |
           (arg << SORT_FLAG_ARG_SHIFT);
}

// ---- records and comparisons -----------------------------------------------
//
// Three record layouts, as the series actions use the sorts:
//  - units: a record is one 1-, 2- or 4-byte unsigned unit (string units);
//  - bytes: an odd-sized record: key byte, 16-bit id, filler derived from
//    the id (exercises the byte-wise swaps);
//  - cells: groups of value cells (a block sorted /skip), each cell with its
//    own key; the flags word picks the compared cell or all of them.
// Every comparison goes through a Checker that verifies the addresses it is
// given: a record boundary inside the array, or entirely outside it (the
// merge sort's side buffer), and that the record it reads is intact.

enum class Layout { units, bytes, cells };

struct Checker {
    const u8* lo = nullptr;
    const u8* hi = nullptr;
    u32 size = 1;
    Layout layout = Layout::units;
    u64 calls = 0;
    u64 bad = 0;
    u64 throw_after = 0;   // raise on this call (0: never)
    bool never_equal = false;  // answer 1 or -1 only, as a user comparator does
    std::mt19937* chaos = nullptr;  // answer at random

    void note(const void* pv) {
        auto p = static_cast<const u8*>(pv);
        if (p >= lo && p < hi) {
            if ((p - lo) % size != 0) bad++;
        } else if (p + size > lo && p < hi) {
            bad++;
        }
        // Read the whole record, and check it where the layout allows.
        u32 sum = 0;
        for (u32 i = 0; i < size; i++) sum += p[i];
        (void)sum;
        if (layout == Layout::bytes) {
            u16 id;
            std::memcpy(&id, p + 1, 2);
            for (u32 i = 3; i < size; i++)
                if (p[i] != static_cast<u8>(id * 7 + i)) bad++;
        } else if (layout == Layout::cells) {
            auto c = reinterpret_cast<const ValueCell*>(p);
            for (u32 j = 0; j < size / 16; j++)
                if (c[j].header != TYPE_INTEGER || c[j].data3 != (c[j].data1 ^ c[j].data2 ^ j * 0x9E3779B9u))
                    bad++;
        }
    }
};

int three_way(i64 x, i64 y) { return (x > y) - (x < y); }

i32 finish(Checker* ck, int r) {
    if (ck->chaos) return static_cast<int>((*ck->chaos)() % 3) - 1;
    if (ck->never_equal) return r > 0 ? 1 : -1;
    return r;
}

void count_call(Checker* ck, const void* a, const void* b) {
    ck->calls++;
    ck->note(a);
    ck->note(b);
    if (ck->throw_after && ck->calls == ck->throw_after) throw ThrowSignal{THROW_THROW};
}

// Units: the flags' reverse bit negates the result.
i32 units_cmp(const void* a, const void* b, uintptr_t arg, u32 flags) {
    auto ck = reinterpret_cast<Checker*>(arg);
    count_call(ck, a, b);
    u32 x = 0, y = 0;
    std::memcpy(&x, a, ck->size);
    std::memcpy(&y, b, ck->size);
    int r = three_way(x, y);
    return finish(ck, flags & SORT_FLAG_REVERSE ? -r : r);
}

i32 bytes_cmp(const void* a, const void* b, uintptr_t arg, u32 flags) {
    auto ck = reinterpret_cast<Checker*>(arg);
    count_call(ck, a, b);
    if (flags & SORT_FLAG_REVERSE) std::swap(a, b);
    return finish(ck, three_way(*static_cast<const u8*>(a), *static_cast<const u8*>(b)));
}

// Cells: reverse exchanges the records; whole records compare cell by cell,
// else only the cell at the offset.
i32 cells_cmp(const void* a, const void* b, uintptr_t arg, u32 flags) {
    auto ck = reinterpret_cast<Checker*>(arg);
    count_call(ck, a, b);
    if (flags & SORT_FLAG_REVERSE) std::swap(a, b);
    auto x = static_cast<const ValueCell*>(a);
    auto y = static_cast<const ValueCell*>(b);
    if (flags & SORT_FLAG_ALL) {
        for (u32 j = 0; j < sort_flags_arg(flags); j++) {
            int r = three_way(static_cast<i32>(x[j].data2), static_cast<i32>(y[j].data2));
            if (r) return finish(ck, r);
        }
        return finish(ck, 0);
    }
    u32 o = sort_flags_arg(flags);
    return finish(ck, three_way(static_cast<i32>(x[o].data2), static_cast<i32>(y[o].data2)));
}

// One kind of array to sort: layout, record size, flags.
struct Kind {
    Layout layout;
    u32 size;
    u32 flags;
    std::string name() const {
        const char* l = layout == Layout::units ? "units" : layout == Layout::bytes ? "bytes" : "cells";
        return std::string(l) + "/" + std::to_string(size) + "/flags" + std::to_string(flags);
    }
    SortCompare cmp() const {
        return layout == Layout::units ? units_cmp : layout == Layout::bytes ? bytes_cmp : cells_cmp;
    }
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> k = {
        {Layout::units, 1, 0},
        {Layout::units, 2, SORT_FLAG_REVERSE},
        {Layout::units, 4, 0},
        {Layout::bytes, 3, 0},
        {Layout::bytes, 5, SORT_FLAG_REVERSE},
        {Layout::bytes, 7, 0},
        {Layout::bytes, 8, 0},
        {Layout::cells, 16, sort_flags_make(false, false, 0)},
        {Layout::cells, 16, sort_flags_make(true, false, 0)},
        {Layout::cells, 32, sort_flags_make(false, false, 1)},
        {Layout::cells, 48, sort_flags_make(true, false, 2)},
        {Layout::cells, 48, sort_flags_make(false, true, 3)},
        {Layout::cells, 32, sort_flags_make(true, true, 2)},
    };
    return k;
}

// ---- inputs ------------------------------------------------------------------

enum Pattern { random_dups, random_wide, sorted, reversed, nearly_sorted, sorted_tail_random,
               descending_dups, all_equal, organ_pipe, sawtooth, pattern_count };

std::vector<i64> make_keys(Pattern p, u32 n, std::mt19937& rng) {
    std::vector<i64> k(n);
    for (u32 i = 0; i < n; i++) {
        switch (p) {
        case random_dups: k[i] = rng() % (n / 4 + 2); break;
        case random_wide: k[i] = rng() % 1000003; break;
        case sorted: k[i] = i / 2; break;
        case reversed: k[i] = n - i; break;
        case nearly_sorted: k[i] = i; break;
        case sorted_tail_random: k[i] = i < n * 9 / 10 ? i : rng() % (n + 1); break;
        case descending_dups: k[i] = (n - i) / 3; break;
        case all_equal: k[i] = 5; break;
        case organ_pipe: k[i] = i < n / 2 ? i : n - i; break;
        case sawtooth: k[i] = i % 17; break;
        default: break;
        }
    }
    if (p == nearly_sorted && n > 1)
        for (u32 s = 0; s < n / 50 + 1; s++) std::swap(k[rng() % n], k[rng() % n]);
    return k;
}

// Builds the records; key j of record i comes from keys[(i + j * 7) % n] so
// the cells of one record differ.
std::vector<u8> make_records(const Kind& kind, const std::vector<i64>& keys) {
    u32 n = static_cast<u32>(keys.size());
    std::vector<u8> d(size_t(n) * kind.size);
    for (u32 i = 0; i < n; i++) {
        u8* r = d.data() + size_t(i) * kind.size;
        switch (kind.layout) {
        case Layout::units: {
            u32 v = static_cast<u32>(keys[i]);
            std::memcpy(r, &v, kind.size);
            break;
        }
        case Layout::bytes: {
            r[0] = static_cast<u8>(keys[i] % 11);  // few distinct keys
            u16 id = static_cast<u16>(i);
            std::memcpy(r + 1, &id, 2);
            for (u32 b = 3; b < kind.size; b++) r[b] = static_cast<u8>(id * 7 + b);
            break;
        }
        case Layout::cells: {
            auto c = reinterpret_cast<ValueCell*>(r);
            for (u32 j = 0; j < kind.size / 16; j++) {
                u32 key = static_cast<u32>(j == 0 ? keys[i] : keys[(i + j * 7) % n] % 3);
                c[j] = ValueCell{TYPE_INTEGER, i, key, i ^ key ^ j * 0x9E3779B9u};
            }
            break;
        }
        }
    }
    return d;
}

// The stable order that sort_merge must produce, by the standard library.
std::vector<u8> stable_reference(const Kind& kind, const std::vector<u8>& in, u32 n, bool never_equal) {
    Checker ck;
    ck.size = kind.size;
    ck.layout = kind.layout;
    ck.never_equal = never_equal;
    std::vector<u32> idx(n);
    std::iota(idx.begin(), idx.end(), 0u);
    SortCompare c = kind.cmp();
    auto rec = [&](u32 i) { return in.data() + size_t(i) * kind.size; };
    if (never_equal) {
        // "a after b" is the only answer such a comparison gives reliably.
        std::stable_sort(idx.begin(), idx.end(), [&](u32 a, u32 b) {
            return c(rec(b), rec(a), reinterpret_cast<uintptr_t>(&ck), kind.flags) > 0;
        });
    } else {
        std::stable_sort(idx.begin(), idx.end(), [&](u32 a, u32 b) {
            return c(rec(a), rec(b), reinterpret_cast<uintptr_t>(&ck), kind.flags) < 0;
        });
    }
    std::vector<u8> out(in.size());
    for (u32 i = 0; i < n; i++) std::memcpy(out.data() + size_t(i) * kind.size, rec(idx[i]), kind.size);
    return out;
}

std::vector<std::string> record_multiset(const std::vector<u8>& d, u32 size) {
    std::vector<std::string> v;
    for (size_t i = 0; i + size <= d.size(); i += size)
        v.emplace_back(reinterpret_cast<const char*>(d.data() + i), size);
    std::sort(v.begin(), v.end());
    return v;
}

// Every adjacent pair in order by the comparison; empty when so, else the
// first offending position.
std::string order_fault(const Kind& kind, const std::vector<u8>& d, u32 n) {
    Checker ck;
    ck.size = kind.size;
    ck.layout = kind.layout;
    for (u32 i = 1; i < n; i++) {
        const u8* a = d.data() + size_t(i - 1) * kind.size;
        if (kind.cmp()(a, a + kind.size, reinterpret_cast<uintptr_t>(&ck), kind.flags) > 0)
            return "out of order at " + std::to_string(i);
    }
    return {};
}

enum class Algo { merge, quick };

// Sorts one array and checks the result: the stable order for the merge
// sort; for the quicksort ordered and a permutation of the input.
void check_sort(Algo algo, const Kind& kind, Pattern pattern, u32 n, std::mt19937& rng) {
    std::vector<u8> in = make_records(kind, make_keys(pattern, n, rng));
    std::vector<u8> d = in;
    Checker ck;
    ck.lo = d.data();
    ck.hi = d.data() + d.size();
    ck.size = kind.size;
    ck.layout = kind.layout;
    auto arg = reinterpret_cast<uintptr_t>(&ck);
    if (algo == Algo::merge) sort_merge(d.data(), n, kind.size, arg, kind.flags, kind.cmp());
    else sort_quick(d.data(), n, kind.size, arg, kind.flags, kind.cmp());
    const std::string what = (algo == Algo::merge ? "merge " : "quick ") + kind.name() +
                             " pattern " + std::to_string(pattern) + " n " + std::to_string(n);
    ASSERT_EQ(ck.bad, 0u) << what;
    if (algo == Algo::merge) {
        ASSERT_TRUE(d == stable_reference(kind, in, n, false)) << what;
    } else {
        ASSERT_EQ(order_fault(kind, d, n), "") << what;
        ASSERT_TRUE(record_multiset(d, kind.size) == record_multiset(in, kind.size)) << what;
    }
    if (n < 2) {
        EXPECT_EQ(ck.calls, 0u) << what;
    }
}

// ---- property tests ------------------------------------------------------------

class SortProperty : public ::testing::TestWithParam<Algo> {};

TEST_P(SortProperty, EverySizeUpToOneHundredEveryLayoutAndPattern) {
    std::mt19937 rng(1234);
    for (const Kind& kind : kinds())
        for (int p = 0; p < pattern_count; p++)
            for (u32 n = 0; n <= 100; n++) {
                check_sort(GetParam(), kind, static_cast<Pattern>(p), n, rng);
                if (HasFatalFailure()) return;
            }
}

TEST_P(SortProperty, LargeArrays) {
    std::mt19937 rng(99);
    const Kind sample[] = {kinds()[1], kinds()[3], kinds()[8], kinds()[11]};
    for (const Kind& kind : sample)
        for (int p = 0; p < pattern_count; p++)
            for (u32 n : {513u, 1500u, 4099u, 30011u}) {
                check_sort(GetParam(), kind, static_cast<Pattern>(p), n, rng);
                if (HasFatalFailure()) return;
            }
}

TEST_P(SortProperty, ComparisonThatAnswersAtRandomStaysInsideTheArray) {
    std::mt19937 rng(7);
    std::mt19937 chaos(8);
    for (const Kind& kind : {kinds()[0], kinds()[4], kinds()[10]})
        for (u32 n : {0u, 1u, 2u, 7u, 8u, 23u, 24u, 25u, 50u, 100u, 600u, 5000u}) {
            std::vector<u8> in = make_records(kind, make_keys(random_dups, n, rng));
            std::vector<u8> d = in;
            Checker ck;
            ck.lo = d.data();
            ck.hi = d.data() + d.size();
            ck.size = kind.size;
            ck.layout = kind.layout;
            ck.chaos = &chaos;
            auto arg = reinterpret_cast<uintptr_t>(&ck);
            if (GetParam() == Algo::merge) sort_merge(d.data(), n, kind.size, arg, kind.flags, kind.cmp());
            else sort_quick(d.data(), n, kind.size, arg, kind.flags, kind.cmp());
            EXPECT_EQ(ck.bad, 0u) << kind.name() << " n " << n;
            EXPECT_TRUE(record_multiset(d, kind.size) == record_multiset(in, kind.size)) << n;
        }
}

TEST_P(SortProperty, ComparisonThatRaisesLeavesAPermutation) {
    std::mt19937 rng(31);
    const Kind kind = kinds()[9];
    const u32 n = 300;
    std::vector<u8> in = make_records(kind, make_keys(random_dups, n, rng));
    Checker probe;
    probe.size = kind.size;
    probe.layout = kind.layout;
    std::vector<u8> d = in;
    auto run = [&](Checker& ck) {
        if (GetParam() == Algo::merge)
            sort_merge(d.data(), n, kind.size, reinterpret_cast<uintptr_t>(&ck), kind.flags, kind.cmp());
        else
            sort_quick(d.data(), n, kind.size, reinterpret_cast<uintptr_t>(&ck), kind.flags, kind.cmp());
    };
    run(probe);
    ASSERT_GT(probe.calls, 100u);
    for (u64 stop = 1; stop < probe.calls; stop += probe.calls / 37 + 1) {
        d = in;
        Checker ck;
        ck.size = kind.size;
        ck.layout = kind.layout;
        ck.throw_after = stop;
        EXPECT_THROW(run(ck), ThrowSignal);
        EXPECT_TRUE(record_multiset(d, kind.size) == record_multiset(in, kind.size)) << "stop " << stop;
    }
}

INSTANTIATE_TEST_SUITE_P(Both, SortProperty, ::testing::Values(Algo::merge, Algo::quick),
                         [](const auto& info) {
                             return std::string(info.param == Algo::merge ? "Merge" : "Quick");
                         });

// ---- merge sort ------------------------------------------------------------------

TEST(SortMerge, ComparisonWithoutEqualAnswerKeepsTiesInOrder) {
    // A user comparator answers only "first" or "second"; records it does
    // not order must still keep their places.
    std::mt19937 rng(5);
    for (const Kind& kind : {kinds()[3], kinds()[7], kinds()[9]})
        for (u32 n : {2u, 23u, 24u, 25u, 90u, 1000u, 7777u}) {
            std::vector<u8> in = make_records(kind, make_keys(random_dups, n, rng));
            std::vector<u8> d = in;
            Checker ck;
            ck.size = kind.size;
            ck.layout = kind.layout;
            ck.never_equal = true;
            sort_merge(d.data(), n, kind.size, reinterpret_cast<uintptr_t>(&ck), kind.flags, kind.cmp());
            EXPECT_TRUE(d == stable_reference(kind, in, n, true)) << kind.name() << " n " << n;
        }
}

TEST(SortMerge, OrderedAndStrictlyDescendingInputTakeOnePass) {
    for (u32 n : {24u, 25u, 1000u, 10000u}) {
        for (bool descending : {false, true}) {
            std::vector<u32> v(n);
            for (u32 i = 0; i < n; i++) v[i] = descending ? n - i : i;
            Checker ck;
            ck.size = 4;
            sort_merge(v.data(), n, 4, reinterpret_cast<uintptr_t>(&ck), 0, units_cmp);
            EXPECT_EQ(ck.calls, n - 1) << n << (descending ? " descending" : " ascending");
            EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
        }
    }
}

TEST(SortMerge, DescendingWithEqualNeighboursStaysStable) {
    const Kind kind = kinds()[7];  // one cell, offset 0
    const u32 n = 200;
    std::vector<i64> keys(n);
    for (u32 i = 0; i < n; i++) keys[i] = (n - i) / 2;  // pairs of equal keys
    std::vector<u8> in = make_records(kind, keys);
    std::vector<u8> d = in;
    Checker ck;
    ck.size = kind.size;
    ck.layout = kind.layout;
    sort_merge(d.data(), n, kind.size, reinterpret_cast<uintptr_t>(&ck), kind.flags, cells_cmp);
    auto c = reinterpret_cast<const ValueCell*>(d.data());
    for (u32 i = 1; i < n; i++) {
        ASSERT_LE(c[i - 1].data2, c[i].data2);
        if (c[i - 1].data2 == c[i].data2) {
            EXPECT_LT(c[i - 1].data1, c[i].data1) << i;
        }
    }
}

TEST(SortMerge, MergeStepKeepsEqualRecordsInOrderFromEitherSide) {
    // Runs of (key, id): the shorter run decides the direction of the merge.
    struct Case { std::vector<u32> first, second; };
    const Case cases[] = {
        {{1, 3, 3, 5, 7, 9}, {3, 5}},          // second shorter: merge from the back
        {{3, 5}, {1, 3, 3, 5, 7, 9}},          // first shorter: merge from the front
        {{2, 2, 2}, {2, 2, 2}},
        {{9}, {1}},
        {{1, 2}, {3, 4}},
    };
    for (const Case& cs : cases) {
        std::vector<u32> keys = cs.first;
        keys.insert(keys.end(), cs.second.begin(), cs.second.end());
        const u32 n = static_cast<u32>(keys.size());
        std::vector<u64> recs(n);
        for (u32 i = 0; i < n; i++) recs[i] = u64(keys[i]) << 32 | i;
        auto key_cmp = [](const void* a, const void* b, uintptr_t, u32) -> i32 {
            u64 x, y;
            std::memcpy(&x, a, 8);
            std::memcpy(&y, b, 8);
            return three_way(x >> 32, y >> 32);
        };
        std::vector<u64> buf(n);
        auto base = reinterpret_cast<u8*>(recs.data());
        SortContext ctx{8, false, 0, 0, key_cmp};
        sort_merge_step(base, base + cs.first.size() * 8, base + n * 8,
                        reinterpret_cast<u8*>(buf.data()), ctx);
        std::vector<u64> want(n);
        for (u32 i = 0; i < n; i++) want[i] = u64(keys[i]) << 32 | i;
        std::stable_sort(want.begin(), want.end(), [](u64 a, u64 b) { return (a >> 32) < (b >> 32); });
        EXPECT_EQ(recs, want);
    }
}

TEST(SortMerge, SideBufferBeyondThirtyOneBitsIsTooLong) {
    u8 dummy[64] = {};
    Checker ck;
    ck.size = 4096;
    // (2^20 / 2) records of 4096 bytes is 2^31 bytes.
    EXPECT_THROW(sort_merge(dummy, 1u << 20, 4096, reinterpret_cast<uintptr_t>(&ck), 0, units_cmp),
                 ThrowSignal);
    EXPECT_EQ(g_raw_error, Err::script_too_long);
    EXPECT_EQ(ck.calls, 0u);
}

// ---- quicksort ---------------------------------------------------------------------

TEST(SortQuick, OrderedInputIsRecognisedByItsLeadingRun) {
    const u32 n = 10000;
    struct Case { const char* name; u32 (*key)(u32, u32); };
    const Case cases[] = {
        {"ascending", [](u32 i, u32) { return i; }},
        {"ascending with ties", [](u32 i, u32) { return i / 3; }},
        {"descending", [](u32 i, u32 m) { return m - i; }},
        {"all equal", [](u32, u32) { return 4u; }},
    };
    for (const Case& c : cases) {
        std::vector<u32> v(n);
        for (u32 i = 0; i < n; i++) v[i] = c.key(i, n);
        Checker ck;
        ck.size = 4;
        sort_quick(v.data(), n, 4, reinterpret_cast<uintptr_t>(&ck), 0, units_cmp);
        EXPECT_EQ(ck.calls, n - 1) << c.name;
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << c.name;
    }
}

TEST(SortQuick, NearlyOrderedInputStaysFarFromQuadratic) {
    const u32 n = 100000;
    std::mt19937 rng(3);
    for (int variant = 0; variant < 4; variant++) {
        std::vector<u32> v(n);
        for (u32 i = 0; i < n; i++) v[i] = variant % 2 ? n - i : i;
        for (u32 s = 0; s < 100; s++) std::swap(v[rng() % n], v[rng() % n]);
        if (variant >= 2) std::swap(v[0], v[n - 1]);  // spoils the leading run
        Checker ck;
        ck.size = 4;
        sort_quick(v.data(), n, 4, reinterpret_cast<uintptr_t>(&ck), 0, units_cmp);
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << variant;
        EXPECT_LT(ck.calls, u64(n) * 40) << variant;
    }
}

TEST(SortQuick, RangeUsesASortedSampleAtEitherEnd) {
    std::mt19937 rng(11);
    for (u32 count : {8u, 40u, 511u, 512u, 3000u, 20000u})
        for (i32 known : {1, 2, 3, 5, 16, 63, 200})
            for (bool at_end : {false, true}) {
                if (u32(known) > count) continue;
                std::vector<u32> v(count);
                for (auto& x : v) x = rng() % 5000;
                if (at_end) std::sort(v.end() - known, v.end());
                else std::sort(v.begin(), v.begin() + known);
                std::vector<u32> want = v;
                std::sort(want.begin(), want.end());
                Checker ck;
                ck.lo = reinterpret_cast<u8*>(v.data());
                ck.hi = ck.lo + count * 4;
                ck.size = 4;
                sort_quick_range(v.data(), at_end ? -known : known, count, 4,
                                 reinterpret_cast<uintptr_t>(&ck), 0, units_cmp);
                EXPECT_EQ(v, want) << count << " " << known << (at_end ? " at end" : "");
                EXPECT_EQ(ck.bad, 0u);
            }
}

TEST(SortQuick, ComparisonWithoutEqualAnswerStillSorts) {
    std::mt19937 rng(17);
    for (u32 n : {5u, 60u, 700u, 9000u}) {
        std::vector<u32> v(n);
        for (auto& x : v) x = rng() % 7;
        Checker ck;
        ck.size = 4;
        ck.never_equal = true;
        sort_quick(v.data(), n, 4, reinterpret_cast<uintptr_t>(&ck), 0, units_cmp);
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << n;
    }
}

// ---- swap ----------------------------------------------------------------------------

TEST(SortSwap, ExchangesWholeRecordsWordwiseOrBytewise) {
    for (u32 size : {1u, 3u, 4u, 6u, 7u, 16u, 48u}) {
        for (bool bytewise : {false, true}) {
            std::vector<u8> a(size), b(size);
            for (u32 i = 0; i < size; i++) {
                a[i] = static_cast<u8>(i + 1);
                b[i] = static_cast<u8>(200 - i);
            }
            std::vector<u8> a0 = a, b0 = b;
            sort_swap(a.data(), b.data(), size, bytewise || size % 4 != 0);
            EXPECT_EQ(a, b0) << size;
            EXPECT_EQ(b, a0) << size;
        }
    }
}

}  // namespace
}  // namespace zan
