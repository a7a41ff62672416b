#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/murmur.h"
#include "test_support.h"

namespace zan {
namespace {

// ---- values built straight on the memory manager --------------------------------------

ValueCell int_cell(i32 v) {
    ValueCell c;
    cell_init(&c, TYPE_INTEGER, 0, static_cast<u32>(v), 0);
    return c;
}
ValueCell typed_cell(u32 type, u32 d2 = 0) {
    ValueCell c;
    cell_init(&c, type, 0, d2, 0);
    return c;
}
// A string! of code points stored in units of the given width.
ValueCell string_cell(const std::u32string& text, u32 unit = 1) {
    Node n = alloc_units(static_cast<u32>(text.size() ? text.size() : 1), unit);
    SeriesBuffer* b = node_buffer(n);
    for (size_t i = 0; i < text.size(); i++) {
        u32 cp = text[i];
        if (unit == 1) b->head_ptr()[i] = static_cast<u8>(cp);
        else if (unit == 2) reinterpret_cast<u16*>(b->head_ptr())[i] = static_cast<u16>(cp);
        else reinterpret_cast<u32*>(b->head_ptr())[i] = cp;
    }
    b->tail = b->head + static_cast<u32>(text.size()) * unit;
    ValueCell c;
    cell_init(&c, TYPE_STRING, 0, n, 0);
    return c;
}

ValueCell block_of(const std::vector<ValueCell>& cells, u32 room = 0) {
    u32 n = static_cast<u32>(cells.size());
    Node b = alloc_cells(room > n ? room : (n ? n : 1));
    SeriesBuffer* buf = node_buffer(b);
    for (u32 i = 0; i < n; i++) buf->head_cells()[i] = cells[i];
    buf->tail = buf->head + n * 16;
    ValueCell c;
    cell_init(&c, TYPE_BLOCK, 0, b, 0);
    return c;
}
std::vector<ValueCell> ints(std::initializer_list<i32> vs) {
    std::vector<ValueCell> out;
    for (i32 v : vs) out.push_back(int_cell(v));
    return out;
}

ValueCell* cells(Node block) { return node_buffer(block)->head_cells(); }
u32 length(Node block) { return node_buffer(block)->used_bytes() / 16; }
Node values_of(Node table) { return hashtable_header(table)->values; }

void append_cell(Node block, const ValueCell& v) {
    SeriesBuffer* b = node_buffer(block);
    if (b->tail + 16 > b->end_ref()) b = series_expand(b, 0);
    *b->tail_cells() = v;
    b->tail += 16;
}

// Inserts cells at a block position and keeps a hash! index in step, as the
// block actions do.
void insert_cells(Node table, u32 at, const std::vector<ValueCell>& vs) {
    Node blk = values_of(table);
    u32 len = length(blk);
    u32 n = static_cast<u32>(vs.size());
    for (u32 i = 0; i < n; i++) append_cell(blk, int_cell(0));
    ValueCell* c = cells(blk);
    std::memmove(c + at + n, c + at, (len - at) * 16);
    for (u32 i = 0; i < n; i++) c[at + i] = vs[i];
    ASSERT_EQ(hashtable_shift_indexes(table, static_cast<i32>(n), static_cast<i32>(at),
                                      static_cast<i32>(len - at)), 0);
    for (u32 i = 0; i < n; i++) hashtable_put(table, cells(blk) + at + i);
}

void remove_cells(Node table, u32 at, u32 n) {
    Node blk = values_of(table);
    u32 len = length(blk);
    ValueCell* c = cells(blk);
    std::memmove(c + at, c + at + n, (len - at - n) * 16);
    node_buffer(blk)->tail -= n * 16;
    ASSERT_EQ(hashtable_shift_indexes(table, -static_cast<i32>(n), static_cast<i32>(at + n),
                                      static_cast<i32>(len - at - n)), 0);
}

// The comparison the datatype layer would install, for the types used here.
bool test_compare(ValueCell* a, ValueCell* b, i32 op) {
    switch (a->type()) {
        case TYPE_NONE: case TYPE_UNSET:
            return true;  // by value: no payload
        case TYPE_INTEGER:
            return a->data2 == b->data2;
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            if (op == 2) return a->data2 == b->data2;
            return hashtable_symbol_canonical(a->data2) == hashtable_symbol_canonical(b->data2);
        case TYPE_STRING: {
            SeriesBuffer* x = node_buffer(a->data2);
            SeriesBuffer* y = node_buffer(b->data2);
            if (x->used_bytes() != y->used_bytes() || x->unit() != 1 || y->unit() != 1) return false;
            for (u32 i = 0; i < x->used_bytes(); i++) {
                u32 p = x->head_ptr()[i], q = y->head_ptr()[i];
                if (op != 2) {
                    p = case_fold(p);
                    q = case_fold(q);
                }
                if (p != q) return false;
            }
            return true;
        }
        default:
            return false;
    }
}

ValueCell* test_map_key_store(ValueCell* key, ValueCell*) {
    if (key->type() >= TYPE_WORD && key->type() <= TYPE_GET_WORD) key->header = TYPE_SET_WORD;
    return key;
}

class HashTableTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        gc_init();
        g_gc.enabled = false;
        g_gc.stress = false;
        set_collect_stress(false);
        hashtable_set_key_compare(test_compare);
        hashtable_set_map_key_store(test_map_key_store);
        hashtable_set_symbol_table(0);
    }
    void TearDown() override {
        g_gc.enabled = false;
        set_collect_stress(false);
        hashtable_set_symbol_table(0);
        hashtable_set_key_compare(nullptr);
        hashtable_set_map_key_store(nullptr);
    }

    // A symbol table over a new symbol block, installed as the process's.
    Node make_symbol_table(i32 size) {
        ValueCell blk = block_of({}, static_cast<u32>(size));
        Node t = hashtable_init(size, &blk, HASH_KIND_SYMBOL, 1);
        hashtable_set_symbol_table(t);
        return t;
    }
    u32 sym(Node table, const std::string& name, bool exact = true) {
        return static_cast<u32>(
            hashtable_find_text(table, name.data(), static_cast<u32>(name.size()), exact));
    }
    // A hash! over a block, kept on the data stack as a hash! value.
    Node make_hash(const std::vector<ValueCell>& vs, i32 size = -1) {
        ValueCell blk = block_of(vs);
        Node t = hashtable_init(size < 0 ? static_cast<i32>(vs.size()) : size, &blk, 0, 1);
        ValueCell* h = stack_push_cell();
        cell_init(h, TYPE_HASH, 0, blk.data2, t);
        return t;
    }
};

// ---- sizes and growth ---------------------------------------------------------------------

TEST_F(HashTableTest, CreationSizesBucketsAndThresholds) {
    struct Case { i32 size; u32 kind, buckets, threshold; };
    for (auto c : {Case{1, 0, 8, 6}, Case{3, 1, 8, 6}, Case{4, 3, 8, 6}, Case{10, 0, 16, 12},
                   Case{1024, 3, 2048, 1576}, Case{4000, 2, 16384, 12615},
                   Case{3999, 2, 8192, 6307}}) {
        Node t = hashtable_init(c.size, nullptr, c.kind, 1);
        HashTableHeader* h = hashtable_header(t);
        EXPECT_EQ(h->buckets, c.buckets) << c.size;
        EXPECT_EQ(h->threshold, c.threshold) << c.size;
        EXPECT_EQ(h->kind, c.kind);
        EXPECT_EQ(h->count, 0u);
        EXPECT_EQ(h->fill, 0u);
        SeriesBuffer* f = node_buffer(h->flags);
        EXPECT_EQ(f->used_bytes(), c.buckets / 4);
        for (u32 i = 0; i < c.buckets / 4; i++) ASSERT_EQ(f->head_ptr()[i], 0xAA);
        EXPECT_EQ(node_buffer(h->keys)->used_bytes(), c.buckets * 4);
        // Pointer-keyed tables carry a stamp from the start and size entries.
        if (c.kind >= 3) {
            EXPECT_EQ(h->indexes, 32u);
            EXPECT_NE(h->stamp, 0u);
        }
    }
}

TEST_F(HashTableTest, SeventhKeyGrowsEveryKindFromEightBuckets) {
    // hash!: keys put as they are appended to the block.
    Node t = make_hash({}, 3);
    Node blk = values_of(t);
    i32 status = -1;
    for (i32 i = 0; i < 6; i++) {
        append_cell(blk, int_cell(i * 7));
        hashtable_put_key(t, cells(blk) + i, &status);
        EXPECT_EQ(status, HASH_PUT_NEW);
    }
    EXPECT_EQ(hashtable_header(t)->buckets, 8u);
    append_cell(blk, int_cell(100));
    hashtable_put_key(t, cells(blk) + 6, &status);
    EXPECT_EQ(status, HASH_PUT_REBUILT);
    EXPECT_EQ(hashtable_header(t)->buckets, 16u);
    EXPECT_EQ(hashtable_header(t)->count, 7u);
    for (i32 i = 0; i < 6; i++) {
        ValueCell k = int_cell(i * 7);
        EXPECT_EQ(hashtable_get(t, &k, 0, 1, 0, false, false), cells(blk) + i);
    }

    // map!: records of key and value.
    ValueCell mblk = block_of({}, 16);
    Node m = hashtable_init(3, &mblk, HASH_KIND_MAP, 1);
    for (i32 i = 0; i < 7; i++) {
        append_cell(mblk.data2, int_cell(i));
        append_cell(mblk.data2, int_cell(i * 10));
        EXPECT_EQ(hashtable_header(m)->buckets, 8u);
        hashtable_put(m, cells(mblk.data2) + 2 * i);
    }
    EXPECT_EQ(hashtable_header(m)->buckets, 16u);

    // pointer-keyed.
    Node p = hashtable_init(3, nullptr, HASH_KIND_POINTER, 1);
    for (u32 i = 1; i <= 7; i++) {
        EXPECT_EQ(hashtable_header(p)->buckets, 8u);
        ValueCell v = int_cell(static_cast<i32>(i));
        hashtable_put_int(p, i * 16, &v);
    }
    EXPECT_EQ(hashtable_header(p)->buckets, 16u);
    for (u32 i = 1; i <= 7; i++) EXPECT_EQ(hashtable_get_int(p, i * 16)[1].data2, i);
}

TEST_F(HashTableTest, ManyDeletionsRebuildAtTheSameBucketCount) {
    // hash!: 12 keys fill 16 buckets up to the threshold; 10 leave the block.
    std::vector<ValueCell> vs;
    for (i32 i = 0; i < 12; i++) vs.push_back(int_cell(i));
    Node t = make_hash(vs, 12);
    HashTableHeader* h = hashtable_header(t);
    ASSERT_EQ(h->buckets, 16u);
    ASSERT_EQ(h->fill, 12u);
    hashtable_remove_range(t, 2, 10);
    node_buffer(values_of(t))->tail -= 10 * 16;
    EXPECT_EQ(hashtable_header(t)->count, 2u);
    EXPECT_EQ(hashtable_header(t)->fill, 12u);
    append_cell(values_of(t), int_cell(50));
    i32 status;
    hashtable_put_key(t, cells(values_of(t)) + 2, &status);
    EXPECT_EQ(status, HASH_PUT_REBUILT);
    h = hashtable_header(t);
    EXPECT_EQ(h->buckets, 16u);
    EXPECT_EQ(h->count, 3u);
    EXPECT_EQ(h->fill, 3u);
    ValueCell gone = int_cell(5), kept = int_cell(1), added = int_cell(50);
    EXPECT_EQ(hashtable_get(t, &gone, 0, 1, 0, false, false), nullptr);
    EXPECT_EQ(hashtable_get(t, &kept, 0, 1, 0, false, false), cells(values_of(t)) + 1);
    EXPECT_EQ(hashtable_get(t, &added, 0, 1, 0, false, false), cells(values_of(t)) + 2);

    // pointer-keyed: the same rule, the dead entries are dropped.
    Node p = hashtable_init(12, nullptr, HASH_KIND_POINTER, 1);
    for (u32 k = 1; k <= 12; k++) hashtable_put_int(p, k * 4, nullptr);
    for (u32 k = 3; k <= 12; k++) EXPECT_TRUE(hashtable_delete_int(p, k * 4));
    EXPECT_FALSE(hashtable_delete_int(p, 12 * 4));
    hashtable_put_int(p, 1000, nullptr);
    h = hashtable_header(p);
    EXPECT_EQ(h->buckets, 16u);
    EXPECT_EQ(h->count, 3u);
    EXPECT_EQ(h->fill, 3u);
    EXPECT_EQ(node_buffer(h->values)->used_bytes(), 3u * 32);
    for (u32 k : {4u, 8u, 1000u}) EXPECT_NE(hashtable_get_int(p, k), nullptr) << k;
    EXPECT_EQ(hashtable_get_int(p, 20), nullptr);

    // With most keys live the same situation doubles instead.
    Node q = hashtable_init(12, nullptr, HASH_KIND_POINTER, 1);
    for (u32 k = 1; k <= 12; k++) hashtable_put_int(q, k * 4, nullptr);
    hashtable_delete_int(q, 4);
    hashtable_put_int(q, 1000, nullptr);
    EXPECT_EQ(hashtable_header(q)->buckets, 32u);
}

TEST_F(HashTableTest, MapTablesAlwaysGrow) {
    ValueCell mblk = block_of({}, 32);
    Node m = hashtable_init(12, &mblk, HASH_KIND_MAP, 1);
    for (i32 i = 0; i < 12; i++) {
        append_cell(mblk.data2, int_cell(i));
        append_cell(mblk.data2, int_cell(i));
        hashtable_put(m, cells(mblk.data2) + 2 * i);
    }
    for (i32 i = 0; i < 11; i++) hashtable_delete(m, cells(mblk.data2) + 2 * i);
    EXPECT_EQ(hashtable_header(m)->count, 1u);
    append_cell(mblk.data2, int_cell(99));
    append_cell(mblk.data2, int_cell(99));
    hashtable_put(m, cells(mblk.data2) + 24);
    EXPECT_EQ(hashtable_header(m)->buckets, 32u);
    EXPECT_EQ(hashtable_header(m)->count, 2u);
}

// A put right after a lookup that missed takes the bucket the lookup ended
// on, but only while the table is as the lookup left it.
TEST_F(HashTableTest, PutAfterAMissedLookupTakesItsBucketOnlyWhileNothingChanged) {
    ValueCell mblk = block_of({}, 16);
    ValueCell* held = stack_push(&mblk);
    Node m = hashtable_init(4, held, HASH_KIND_MAP, 1);
    // Appends a record and enters its key; the answer is the stored key's position.
    auto put = [&](i32 k, bool after_miss, i32* status) {
        append_cell(held->data2, int_cell(k));
        append_cell(held->data2, int_cell(k));
        ValueCell* key = cells(held->data2) + length(held->data2) - 2;
        ValueCell* r = after_miss ? hashtable_put_missed(m, key, status)
                                  : hashtable_put_key(m, key, status);
        return r - cells(held->data2);
    };
    i32 st;
    // Many keys, each looked up and then put: all go in, across resizes.
    for (i32 k = 0; k < 300; k++) {
        ValueCell key = int_cell(k);
        ASSERT_EQ(hashtable_get(m, &key, 0, 1, 12, false, false), nullptr);
        EXPECT_EQ(put(k, true, &st), 2 * k);
        EXPECT_EQ(st, HASH_PUT_NEW);
    }
    EXPECT_EQ(hashtable_header(m)->count, 300u);
    for (i32 k = 0; k < 300; k++) {
        ValueCell key = int_cell(k);
        ASSERT_EQ(hashtable_get(m, &key, 0, 1, 2, false, false), cells(held->data2) + 2 * k);
    }
    // The key went in by another way after the miss: the put finds it.
    ValueCell late = int_cell(1000);
    ASSERT_EQ(hashtable_get(m, &late, 0, 1, 12, false, false), nullptr);
    EXPECT_EQ(put(1000, false, &st), 600);
    EXPECT_EQ(put(1000, true, &st), 600);
    EXPECT_EQ(st, HASH_PUT_FOUND);
    // Another key than the one that missed probes for itself.
    ValueCell missed = int_cell(2000);
    ASSERT_EQ(hashtable_get(m, &missed, 0, 1, 12, false, false), nullptr);
    EXPECT_EQ(put(5, true, &st), 10);
    EXPECT_EQ(st, HASH_PUT_FOUND);
    EXPECT_EQ(hashtable_header(m)->count, 301u);
}

// A map's bucket word keeps the top bits of its key's hash beside the key's
// position: keys that share those bits (and their first bucket) must still
// be told apart by comparing the cells, before and after the table grows,
// and keys whose bits differ must never be taken for each other.
TEST_F(HashTableTest, MapKeysSharingHashBitsAndBucketsStayApart) {
    // Integer keys whose hashes agree in the top five bits and the low six.
    std::vector<i32> same;
    i32 want_top = -1, want_low = -1;
    for (i32 k = 1; same.size() < 40; k++) {
        u32 h = hash_pointer_mix(static_cast<u32>(k));
        if (want_top < 0) {
            want_top = static_cast<i32>(h >> 27);
            want_low = static_cast<i32>(h & 63);
        }
        if (static_cast<i32>(h >> 27) == want_top && static_cast<i32>(h & 63) == want_low)
            same.push_back(k);
    }
    ValueCell mblk = block_of({}, 16);
    ValueCell* held = stack_push(&mblk);
    Node m = hashtable_init(4, held, HASH_KIND_MAP, 1);
    auto put = [&](i32 k) {
        append_cell(held->data2, int_cell(k));
        append_cell(held->data2, int_cell(-k));
        i32 st;
        hashtable_put_key(m, cells(held->data2) + length(held->data2) - 2, &st);
        return st;
    };
    // Interleaved with other keys, so that the table grows several times.
    for (size_t i = 0; i < same.size(); i++) {
        EXPECT_EQ(put(same[i]), HASH_PUT_NEW);
        EXPECT_EQ(put(100000 + static_cast<i32>(i)), HASH_PUT_NEW);
    }
    EXPECT_GE(hashtable_header(m)->buckets, 128u);
    for (size_t i = 0; i < same.size(); i++) {
        ValueCell key = int_cell(same[i]);
        ValueCell* r = hashtable_get(m, &key, 0, 1, 0, false, false);
        ASSERT_NE(r, nullptr) << same[i];
        EXPECT_EQ(r - cells(held->data2), static_cast<i64>(4 * i));
        EXPECT_EQ(put(same[i]), HASH_PUT_FOUND);
        node_buffer(held->data2)->tail -= 32;  // the repeated record goes again
    }
    // Keys never entered miss, whatever bits they share.
    for (i32 k = 1; k < 2000; k++) {
        if (std::find(same.begin(), same.end(), k) != same.end()) continue;
        ValueCell key = int_cell(k);
        ASSERT_EQ(hashtable_get(m, &key, 0, 1, 0, false, false), nullptr) << k;
    }
    // Case-insensitive text keys beyond ASCII meet their other case, and
    // only the strict lookup tells them apart.
    ValueCell upper = string_cell(U"\u00c4RGER\u00d8"), lower = string_cell(U"\u00e4rger\u00f8");
    append_cell(held->data2, upper);
    append_cell(held->data2, int_cell(7));
    i32 st;
    hashtable_put_key(m, cells(held->data2) + length(held->data2) - 2, &st);
    EXPECT_EQ(st, HASH_PUT_NEW);
    EXPECT_EQ(hashtable_get(m, &lower, 0, 1, 0, false, false),
              cells(held->data2) + length(held->data2) - 2);
    EXPECT_EQ(hashtable_get(m, &lower, 0, 1, 2, false, false), nullptr);
}

// ---- hash!: duplicate keys and search directions -------------------------------------------

TEST_F(HashTableTest, DuplicateKeysAreChainedAndSearchedByDirection) {
    // 20 sits at positions 1 and 4 (2 and 5 counted from 1).
    Node t = make_hash(ints({10, 20, 30, 40, 20, 50}));
    ValueCell k = int_cell(20);
    struct Case { i32 start, skip; bool last, reverse; i32 expect; };
    for (auto c : {Case{0, 1, false, false, 1}, Case{0, 1, true, false, 4},
                   Case{2, 1, false, false, 4}, Case{2, 1, true, false, 4},
                   Case{5, 1, false, false, -1}, Case{4, 1, false, true, 1},
                   Case{1, 1, false, true, -1}, Case{6, 1, false, true, 4},
                   Case{0, 2, false, false, 4}, Case{1, 3, false, false, 1},
                   Case{1, 3, true, false, 4}, Case{0, 3, false, false, -1},
                   Case{6, 5, false, true, 1}}) {
        ValueCell* r = hashtable_get(t, &k, c.start, c.skip, 0, c.last, c.reverse);
        i32 got = r ? static_cast<i32>(r - cells(values_of(t))) : -1;
        EXPECT_EQ(got, c.expect) << "start " << c.start << " skip " << c.skip << " last "
                                 << c.last << " reverse " << c.reverse;
    }
    // One bucket with a chain of both positions.
    HashTableHeader* h = hashtable_header(t);
    EXPECT_EQ(h->count, 6u);
    EXPECT_EQ(h->fill, 5u);

    ValueCell* first = hashtable_get(t, &k, 0, 1, 0, false, false);
    ValueCell* second = hashtable_get_next(t, &k, first, 1, 0, false);
    EXPECT_EQ(second, cells(values_of(t)) + 4);
    EXPECT_EQ(hashtable_get_next(t, &k, second, 1, 0, false), nullptr);
    EXPECT_EQ(hashtable_get_next(t, &k, second, 1, 0, true), first);

    // Deleting one position leaves the other; deleting both frees the bucket.
    hashtable_delete(t, cells(values_of(t)) + 1);
    EXPECT_EQ(hashtable_get(t, &k, 0, 1, 0, false, false), cells(values_of(t)) + 4);
    hashtable_delete(t, cells(values_of(t)) + 4);
    EXPECT_EQ(hashtable_get(t, &k, 0, 1, 0, false, false), nullptr);
    EXPECT_EQ(hashtable_header(t)->count, 4u);
    // Putting both back chains them again.
    hashtable_put(t, cells(values_of(t)) + 4);
    hashtable_put(t, cells(values_of(t)) + 1);
    EXPECT_EQ(hashtable_get(t, &k, 0, 1, 0, false, false), cells(values_of(t)) + 1);
    EXPECT_EQ(hashtable_get(t, &k, 0, 1, 0, true, false), cells(values_of(t)) + 4);
}

TEST_F(HashTableTest, PuttingAWrittenCellAgainReplacesItsOldEntry) {
    Node t = make_hash(ints({1, 2, 3}));
    cells(values_of(t))[1] = int_cell(9);  // a poke
    hashtable_put(t, cells(values_of(t)) + 1);
    ValueCell old = int_cell(2), now = int_cell(9);
    EXPECT_EQ(hashtable_get(t, &old, 0, 1, 0, false, false), nullptr);
    EXPECT_EQ(hashtable_get(t, &now, 0, 1, 0, false, false), cells(values_of(t)) + 1);
    EXPECT_EQ(hashtable_header(t)->count, 3u);
}

TEST_F(HashTableTest, UnsetAndNoneKeysHashToFixedValuesAndCompareByValue) {
    ValueCell u = typed_cell(TYPE_UNSET), n = typed_cell(TYPE_NONE);
    EXPECT_EQ(hashtable_hash_key(&u, false), 0xFFFFFFFEu);
    EXPECT_EQ(hashtable_hash_key(&n, true), 0xFFFFFFFFu);
    // Different stray payloads: still the same values.
    ValueCell n2 = n;
    n2.data2 = 77;
    Node t = make_hash({n, int_cell(1), u, n2, typed_cell(TYPE_UNSET, 5)});
    ValueCell* base = cells(values_of(t));
    EXPECT_EQ(hashtable_get(t, &n, 0, 1, 0, false, false), base + 0);
    EXPECT_EQ(hashtable_get(t, &n, 0, 1, 0, true, false), base + 3);
    EXPECT_EQ(hashtable_get(t, &u, 0, 1, 0, false, false), base + 2);
    EXPECT_EQ(hashtable_get(t, &u, 3, 1, 0, false, false), base + 4);
    EXPECT_EQ(hashtable_get(t, &u, 0, 1, 0, false, false)->type(), TYPE_UNSET);
}

TEST_F(HashTableTest, BlockKeysGiveTheTableARehashStamp) {
    Node t = make_hash(ints({1, 2}));
    EXPECT_EQ(hashtable_header(t)->stamp, 0u);
    ValueCell inner = block_of(ints({5}));
    append_cell(values_of(t), inner);
    hashtable_put(t, cells(values_of(t)) + 2);
    EXPECT_EQ(hashtable_header(t)->stamp, g_gc.nodes_cycles + 1);
    // When node compaction has moved on, the next lookup rebuilds the index.
    g_gc.nodes_cycles++;
    EXPECT_TRUE(hashtable_check_grow(t));
    EXPECT_EQ(hashtable_header(t)->stamp, g_gc.nodes_cycles + 1);
    EXPECT_FALSE(hashtable_check_grow(t));
    // Without an installed comparison, keys of the same type and payload match.
    hashtable_set_key_compare(nullptr);
    EXPECT_EQ(hashtable_get(t, &inner, 0, 1, 2, false, false), cells(values_of(t)) + 2);
    hashtable_set_key_compare(test_compare);
    ValueCell two = int_cell(2);
    EXPECT_EQ(hashtable_get(t, &two, 0, 1, 0, false, false), cells(values_of(t)) + 1);
}

// ---- hash!: positions that move ------------------------------------------------------------

TEST_F(HashTableTest, InsertionAndRemovalShiftStoredPositions) {
    Node t = make_hash(ints({7, 8, 7, 9, 7}));
    insert_cells(t, 1, ints({100, 7}));  // 7 100 7 8 7 9 7
    auto positions = [&](i32 v) {
        std::vector<i32> out;
        ValueCell k = int_cell(v);
        for (ValueCell* r = hashtable_get(t, &k, 0, 1, 0, false, false); r;
             r = hashtable_get_next(t, &k, r, 1, 0, false))
            out.push_back(static_cast<i32>(r - cells(values_of(t))));
        return out;
    };
    EXPECT_EQ(positions(7), (std::vector<i32>{0, 2, 4, 6}));
    EXPECT_EQ(positions(100), (std::vector<i32>{1}));
    EXPECT_EQ(positions(8), (std::vector<i32>{3}));
    EXPECT_EQ(positions(9), (std::vector<i32>{5}));
    EXPECT_EQ(hashtable_header(t)->count, 7u);

    remove_cells(t, 1, 3);  // 7 7 9 7
    EXPECT_EQ(positions(7), (std::vector<i32>{0, 1, 3}));
    EXPECT_TRUE(positions(100).empty());
    EXPECT_TRUE(positions(8).empty());
    EXPECT_EQ(positions(9), (std::vector<i32>{2}));
    EXPECT_EQ(hashtable_header(t)->count, 4u);

    remove_cells(t, 2, 2);  // removal at the tail: 7 7
    EXPECT_EQ(positions(7), (std::vector<i32>{0, 1}));
    EXPECT_TRUE(positions(9).empty());
    EXPECT_EQ(hashtable_header(t)->count, 2u);

    // Too many positions to shift: nothing changes and the caller rebuilds.
    EXPECT_EQ(hashtable_shift_indexes(t, 1, 0, HASH_SHIFT_LIMIT + 1), 1);
    EXPECT_EQ(positions(7), (std::vector<i32>{0, 1}));
}

TEST_F(HashTableTest, IndexesGrowWithTheBlock) {
    Node t = make_hash(ints({1}), 1);
    for (i32 i = 2; i <= 500; i++) insert_cells(t, 0, ints({i}));
    // Block: 500 499 ... 2 1
    for (i32 v : {1, 2, 250, 500}) {
        ValueCell k = int_cell(v);
        ValueCell* r = hashtable_get(t, &k, 0, 1, 0, false, false);
        ASSERT_NE(r, nullptr) << v;
        EXPECT_EQ(r - cells(values_of(t)), 500 - v);
    }
}

TEST_F(HashTableTest, MoveRangeAdjustsMovedAndShiftedPositions) {
    struct Case { i32 from, count, dest; std::vector<i32> after; };
    for (const auto& c : {Case{3, 1, 0, {4, 1, 2, 3, 5}}, Case{0, 2, 3, {3, 4, 5, 1, 2}},
                          Case{1, 2, 2, {1, 4, 2, 3, 5}}}) {
        Node t = make_hash(ints({1, 2, 3, 4, 5}));
        ValueCell* b = cells(values_of(t));
        for (u32 i = 0; i < 5; i++) b[i] = int_cell(c.after[i]);
        ASSERT_EQ(hashtable_move_range(t, c.from, c.count, c.dest), 0);
        for (i32 i = 0; i < 5; i++) {
            ValueCell k = int_cell(c.after[i]);
            ValueCell* r = hashtable_get(t, &k, 0, 1, 0, false, false);
            EXPECT_EQ(r ? r - cells(values_of(t)) : -1, i) << c.from << "->" << c.dest;
        }
    }
    Node t = make_hash(ints({1, 2}));
    EXPECT_EQ(hashtable_move_range(t, 0, 1, HASH_SHIFT_LIMIT + 5), 1);
}

// ---- copies, clearing, resetting -------------------------------------------------------------

TEST_F(HashTableTest, CopyIsIndependentOfTheSource) {
    Node t = make_hash(ints({4, 4, 5}));
    Node copy_block = series_copy_buffer(node_buffer(values_of(t)));
    ValueCell* held = stack_push_cell();
    cell_init(held, TYPE_BLOCK, 0, copy_block, 0);
    Node c = hashtable_copy(t, copy_block);
    EXPECT_EQ(values_of(c), copy_block);
    EXPECT_NE(hashtable_header(c)->chains, hashtable_header(t)->chains);
    hashtable_delete(c, cells(copy_block) + 0);
    ValueCell four = int_cell(4);
    EXPECT_EQ(hashtable_get(c, &four, 0, 1, 0, false, false), cells(copy_block) + 1);
    EXPECT_EQ(hashtable_get(t, &four, 0, 1, 0, false, false), cells(values_of(t)) + 0);
    EXPECT_EQ(hashtable_header(t)->count, 3u);
    EXPECT_EQ(hashtable_header(c)->count, 2u);
}

TEST_F(HashTableTest, ClearEmptiesAndResetResizesAndReenters) {
    Node t = make_hash(ints({1, 2, 2, 3}));
    hashtable_clear(t);
    HashTableHeader* h = hashtable_header(t);
    EXPECT_EQ(h->count, 0u);
    EXPECT_EQ(h->fill, 0u);
    ValueCell two = int_cell(2);
    EXPECT_EQ(hashtable_get(t, &two, 0, 1, 0, false, false), nullptr);

    hashtable_reset(t, 20);  // 30 asked: 32 buckets
    h = hashtable_header(t);
    EXPECT_EQ(h->buckets, 32u);
    EXPECT_EQ(h->count, 4u);
    EXPECT_EQ(hashtable_get(t, &two, 0, 1, 0, true, false), cells(values_of(t)) + 2);

    Node p = hashtable_init(4, nullptr, HASH_KIND_POINTER, 2);
    hashtable_put_int(p, 64, nullptr);
    hashtable_clear(p);
    EXPECT_EQ(hashtable_get_int(p, 64), nullptr);
    EXPECT_EQ(node_buffer(values_of(p))->used_bytes(), 0u);
    EXPECT_NE(hashtable_header(p)->stamp, 0u);
}

// ---- map! -----------------------------------------------------------------------------------------

TEST_F(HashTableTest, MapRepeatedKeysKeepTheFirstPlaceAndTheLastValue) {
    Node st = make_symbol_table(16);
    u32 a = sym(st, "a"), b = sym(st, "b");
    ValueCell blk = block_of({typed_cell(TYPE_WORD, a), int_cell(1), typed_cell(TYPE_WORD, b),
                              int_cell(2), typed_cell(TYPE_LIT_WORD, a), int_cell(3)});
    ValueCell* held = stack_push(&blk);
    Node m = hashtable_init(6, held, HASH_KIND_MAP, 1);
    Node entries = held->data2;
    ASSERT_EQ(length(entries), 4u);
    EXPECT_EQ(hashtable_header(m)->count, 2u);
    ValueCell* e = cells(entries);
    EXPECT_EQ(e[0].type(), TYPE_SET_WORD);
    EXPECT_EQ(e[0].data2, a);
    EXPECT_EQ(e[1].data2, 3u);
    EXPECT_EQ(e[2].data2, b);
    EXPECT_EQ(e[3].data2, 2u);

    // Any word type finds the set-word key, and keeps its own type.
    ValueCell key = typed_cell(TYPE_GET_WORD, b);
    EXPECT_EQ(hashtable_get(m, &key, 0, 1, 0, false, false), e + 2);
    EXPECT_EQ(key.type(), TYPE_GET_WORD);
    // A removed record stays indexed with a zero value header.
    hashtable_delete(m, e + 2);
    EXPECT_EQ(e[3].header, 0u);
    EXPECT_EQ(hashtable_header(m)->count, 1u);
    EXPECT_EQ(hashtable_get(m, &key, 0, 1, 0, false, false), e + 2);
    hashtable_delete(m, e + 2);
    EXPECT_EQ(hashtable_header(m)->count, 1u);
}

TEST_F(HashTableTest, MapLookupsCompareOnlyKeysOfTheSameType) {
    ValueCell blk = block_of({string_cell(U"Key"), int_cell(1), int_cell(5), int_cell(2)});
    ValueCell* held = stack_push(&blk);
    Node m = hashtable_init(4, held, HASH_KIND_MAP, 1);
    ValueCell s = string_cell(U"KEY");
    ValueCell* r = hashtable_get(m, &s, 0, 1, 0, false, false);
    EXPECT_EQ(r, cells(held->data2));
    EXPECT_EQ(hashtable_get(m, &s, 0, 1, 2, false, false), nullptr);  // strict
    // An internal text key matches whatever string-like type is stored.
    ValueCell tk = string_cell(U"keyXYZ");
    tk.header = TYPE_TEXT_KEY;
    tk.data3 = 3;
    EXPECT_EQ(hashtable_hash_key(&tk, false), hashtable_hash_key(&s, false));
    ValueCell five = int_cell(5);
    EXPECT_EQ(hashtable_get(m, &five, 0, 1, 0, false, false), cells(held->data2) + 2);
    ValueCell five_char = typed_cell(TYPE_CHAR, 5);
    EXPECT_EQ(hashtable_get(m, &five_char, 0, 1, 0, false, false), nullptr);
}

// ---- hashing ---------------------------------------------------------------------------------------

TEST_F(HashTableTest, TextHashFoldsCaseAndIgnoresUnitWidth) {
    ValueCell lower = string_cell(U"stra\u00dfe"), upper = string_cell(U"STRA\u00dfE");
    ValueCell wide = string_cell(U"stra\u00dfe", 2), wider = string_cell(U"stra\u00dfe", 4);
    EXPECT_EQ(hashtable_hash_key(&lower, false), hashtable_hash_key(&upper, false));
    EXPECT_NE(hashtable_hash_key(&lower, true), hashtable_hash_key(&upper, true));
    EXPECT_EQ(hashtable_hash_key(&lower, true), hashtable_hash_key(&wide, true));
    EXPECT_EQ(hashtable_hash_key(&lower, true), hashtable_hash_key(&wider, true));
    ValueCell upper_wider = string_cell(U"STRA\u00dfE", 4);
    EXPECT_EQ(hashtable_hash_key(&upper_wider, false), hashtable_hash_key(&lower, false));
    // Texts that differ in one code point, its place or the length differ.
    const char32_t* others[] = {U"strafe", U"stra\u00dfee", U"trasse", U"stra\u00dff",
                                U"", U"stra\u0100e"};
    for (const char32_t* o : others) {
        ValueCell c = string_cell(o, 4);
        EXPECT_NE(hashtable_hash_key(&c, false), hashtable_hash_key(&lower, false));
    }
    // Every byte unit folds as the full fold does: a text of bytes hashes as
    // the same text in wider units, and as the text of its folded code points
    // (each byte between others, so that it is met in every place of a word).
    for (u32 c = 0; c < 256; c++) {
        std::u32string t = U"ab";
        t += static_cast<char32_t>(c);
        t += U"cde";
        t += static_cast<char32_t>(c);
        std::u32string folded = t;
        for (char32_t& f : folded) f = case_fold_fast(f);
        ValueCell narrow = string_cell(t), wide4 = string_cell(t, 4), low = string_cell(folded, 4);
        EXPECT_EQ(hashtable_hash_key(&narrow, false), hashtable_hash_key(&wide4, false)) << c;
        EXPECT_EQ(hashtable_hash_key(&narrow, false), hashtable_hash_key(&low, false)) << c;
    }
    // From the position to the tail; a position past the tail hashes as empty.
    ValueCell tail = string_cell(U"xxe");
    tail.data1 = 2;
    ValueCell e = string_cell(U"E");
    EXPECT_EQ(hashtable_hash_key(&tail, false), hashtable_hash_key(&e, false));
    ValueCell past = string_cell(U"ab"), empty = string_cell(U"");
    past.data1 = 9;
    EXPECT_EQ(hashtable_hash_key(&past, false), hashtable_hash_key(&empty, false));
    // Other types by their payload words.
    ValueCell i1 = int_cell(1), c1 = typed_cell(TYPE_CHAR, 1);
    EXPECT_EQ(hashtable_hash_key(&i1, false), hashtable_hash_key(&c1, false));
    EXPECT_EQ(hashtable_hash_key(&i1, false), hash_pointer_mix(1));
    ValueCell other = typed_cell(TYPE_BITSET, 5);
    EXPECT_EQ(hashtable_hash_key(&other, false), 0u);
}

TEST_F(HashTableTest, MoneyHashIgnoresNewLineMarkerAndSignOfZero) {
    ValueCell m1{};
    m1.header = TYPE_MONEY;
    u8* bytes = reinterpret_cast<u8*>(&m1);
    bytes[15] = 0x50;
    ValueCell m2 = m1;
    m2.header |= CELL_NEW_LINE;
    EXPECT_EQ(hashtable_hash_key(&m1, false), hashtable_hash_key(&m2, false));
    ValueCell neg = m1;
    neg.header |= 1u << 14;
    EXPECT_NE(hashtable_hash_key(&m1, false), hashtable_hash_key(&neg, false));
    ValueCell zero{}, negzero{};
    zero.header = TYPE_MONEY;
    negzero.header = TYPE_MONEY | (1u << 14);
    EXPECT_EQ(hashtable_hash_key(&zero, false), hashtable_hash_key(&negzero, false));
}

// ---- symbols and word tables -------------------------------------------------------------------------

TEST_F(HashTableTest, SymbolsAreInternedWithAliasesUpToCase) {
    Node st = make_symbol_table(4000);
    EXPECT_EQ(hashtable_header(st)->buckets, 16384u);
    u32 abc = sym(st, "abc");
    EXPECT_EQ(abc, 1u);
    EXPECT_EQ(sym(st, "abc"), abc);
    u32 upper = sym(st, "ABC");
    EXPECT_EQ(upper, 2u);
    EXPECT_EQ(sym(st, "aBc", false), abc);
    u32 mixed = sym(st, "Abc");
    Node blk = values_of(st);
    ValueCell* s = cells(blk);
    EXPECT_EQ(s[0].type(), TYPE_SYMBOL);
    EXPECT_EQ(static_cast<i32>(s[0].data1), -1);
    EXPECT_EQ(s[1].data1, abc);
    EXPECT_EQ(s[mixed - 1].data1, abc);
    EXPECT_EQ(s[1].data2, 0u);
    SeriesBuffer* name = node_buffer(s[1].data3);
    EXPECT_EQ(name->used_bytes(), 3u);
    EXPECT_EQ(std::memcmp(name->head_ptr(), "ABC\0", 4), 0);
    EXPECT_EQ(hashtable_symbol_canonical(upper), abc);
    EXPECT_EQ(hashtable_symbol_canonical(abc), abc);
    // A name only new up to case, asked case-insensitively, is not added.
    u32 before = length(blk);
    EXPECT_EQ(sym(st, "ABc", false), abc);
    EXPECT_EQ(length(blk), before);
    // Different lengths never match, and the empty name is a name.
    EXPECT_NE(sym(st, "ab"), abc);
    u32 empty = sym(st, "");
    EXPECT_EQ(sym(st, ""), empty);
    // Symbol cells hash as their lowered name.
    EXPECT_EQ(hashtable_hash_key(&cells(values_of(st))[upper - 1], false),
              hashtable_hash_key(&cells(values_of(st))[abc - 1], false));
}

TEST_F(HashTableTest, SymbolTableGrowsThroughThousandsOfNames) {
    Node st = make_symbol_table(4);
    ValueCell* held = stack_push_cell();
    cell_init(held, TYPE_BLOCK, 0, values_of(st), 0);
    EXPECT_EQ(hashtable_header(st)->buckets, 8u);
    for (int i = 0; i < 7; i++) sym(st, "w" + std::to_string(i));
    // Six live keys of eight buckets: the seventh name grows it 32 times.
    EXPECT_EQ(hashtable_header(st)->buckets, 256u);
    const int n = 20000;
    for (int i = 7; i < n; i++) ASSERT_EQ(sym(st, "w" + std::to_string(i)), static_cast<u32>(i + 1));
    for (int i = 0; i < n; i += 7) {
        ASSERT_EQ(sym(st, "w" + std::to_string(i)), static_cast<u32>(i + 1));
        ASSERT_EQ(sym(st, "W" + std::to_string(i), false), static_cast<u32>(i + 1));
    }
    HashTableHeader* h = hashtable_header(st);
    EXPECT_EQ(h->count, static_cast<u32>(n));
    EXPECT_EQ(length(values_of(st)), static_cast<u32>(n));
    EXPECT_LT(h->fill, h->threshold);
    EXPECT_GE(h->buckets, 2u * n);
    u32 s = sym(st, "W19999");
    EXPECT_EQ(s, static_cast<u32>(n + 1));
    EXPECT_EQ(hashtable_symbol_canonical(s), static_cast<u32>(n));
}

TEST_F(HashTableTest, WordTablesFindSymbolsExactlyOrByAlias) {
    Node st = make_symbol_table(16);
    u32 print = sym(st, "print"), Print = sym(st, "Print"), other = sym(st, "other");
    Node wt = hashtable_init(4, nullptr, HASH_KIND_SYMBOL, 2);
    Node blk = values_of(wt);
    for (u32 s : {print, other}) {
        append_cell(blk, typed_cell(TYPE_WORD, s));
        i32 status;
        hashtable_put_key(wt, cells(blk) + length(blk) - 1, &status);
        EXPECT_EQ(status, HASH_PUT_NEW);
    }
    EXPECT_EQ(hashtable_find_symbol(wt, print, false), cells(blk) + 0);
    EXPECT_EQ(hashtable_find_symbol(wt, Print, false), nullptr);
    EXPECT_EQ(hashtable_find_symbol(wt, Print, true), cells(blk) + 0);
    EXPECT_EQ(hashtable_find_symbol(wt, other, true), cells(blk) + 1);
    // Another spelling is another key; the same spelling is found again.
    append_cell(blk, typed_cell(TYPE_WORD, Print));
    i32 status;
    hashtable_put_key(wt, cells(blk) + 2, &status);
    EXPECT_EQ(status, HASH_PUT_NEW);
    EXPECT_EQ(hashtable_find_symbol(wt, Print, false), cells(blk) + 2);
    append_cell(blk, typed_cell(TYPE_WORD, other));
    EXPECT_EQ(hashtable_put_key(wt, cells(blk) + 3, &status), cells(blk) + 1);
    EXPECT_EQ(status, HASH_PUT_FOUND);

    // A context's word table given as source is copied with its block.
    ValueCell ctx;
    cell_init(&ctx, TYPE_CONTEXT, wt, 0, 0);
    Node copy = hashtable_init(4, &ctx, HASH_KIND_SYMBOL, 2);
    EXPECT_NE(values_of(copy), values_of(wt));
    EXPECT_EQ(hashtable_find_symbol(copy, other, false), cells(values_of(copy)) + 1);
}

// ---- pointer-keyed and ownership tables ---------------------------------------------------------------

TEST_F(HashTableTest, PointerKeysStoreValueCellsAndReuseDeadEntries) {
    Node p = hashtable_init(8, nullptr, HASH_KIND_POINTER, 2);
    ValueCell two[2] = {int_cell(1), int_cell(2)};
    ValueCell* e = hashtable_put_int(p, 400, two);
    EXPECT_EQ(e->header, static_cast<u32>(TYPE_UNSET));
    EXPECT_EQ(e->data1, 400u);
    EXPECT_EQ(e[2].data2, 2u);
    ValueCell repl[2] = {int_cell(7), int_cell(8)};
    EXPECT_EQ(hashtable_put_int(p, 400, repl), e);
    EXPECT_EQ(e[1].data2, 7u);
    EXPECT_EQ(hashtable_header(p)->count, 1u);
    ValueCell* absent = hashtable_put_int(p, 404, nullptr);
    EXPECT_EQ(absent[1].type(), TYPE_UNSET);
    EXPECT_TRUE(hashtable_delete_int(p, 400));
    EXPECT_EQ(hashtable_get_int(p, 400), nullptr);
    u32 used = node_buffer(values_of(p))->used_bytes();
    hashtable_put_int(p, 400, two);
    EXPECT_EQ(node_buffer(values_of(p))->used_bytes(), used);
    EXPECT_EQ(hashtable_get_int(p, 400)[1].data2, 1u);
}

TEST_F(HashTableTest, RehashCheckFollowsRelocatedKeys) {
    Node p = hashtable_init(8, nullptr, HASH_KIND_POINTER, 1);
    for (u32 k = 1; k <= 5; k++) {
        ValueCell v = int_cell(static_cast<i32>(k));
        hashtable_put_int(p, k * 1000, &v);
    }
    // Marking rewrote the key words as node compaction moved the nodes...
    for (u32 k = 1; k <= 5; k++) hashtable_get_int(p, k * 1000)->data1 = k * 1000 + 4;
    // ...and the counter moved on: the next lookup rehashes first.
    g_gc.nodes_cycles++;
    for (u32 k = 1; k <= 5; k++) {
        ValueCell* e = hashtable_get_int(p, k * 1000 + 4);
        ASSERT_NE(e, nullptr) << k;
        EXPECT_EQ(e[1].data2, k);
    }
    EXPECT_EQ(hashtable_header(p)->stamp, g_gc.nodes_cycles + 1);
    // No rehash while a collection runs.
    g_gc.nodes_cycles++;
    g_gc.active = true;
    EXPECT_FALSE(hashtable_check_grow(p));
    g_gc.active = false;
    EXPECT_TRUE(hashtable_check_grow(p));
}

TEST_F(HashTableTest, PurgeDropsEntriesWhoseSeriesOrOwnerAreUnmarked) {
    Node own = hashtable_init(16, nullptr, HASH_KIND_OWNERSHIP, 3);
    ValueCell* held = stack_push_cell();
    cell_init(held, TYPE_HASH, 0, 0, own);
    ValueCell live = block_of(ints({1})), dead = block_of(ints({2})), orphan = block_of(ints({3}));
    ValueCell owner_ctx = block_of({}), dead_ctx = block_of({});
    ValueCell owner, lost_owner, word = typed_cell(TYPE_WORD, 1);
    cell_init(&owner, TYPE_OBJECT, owner_ctx.data2, 0, 0);
    cell_init(&lost_owner, TYPE_OBJECT, dead_ctx.data2, 0, 0);
    ValueCell e1[3] = {live, owner, word}, e2[3] = {dead, owner, word},
              e3[3] = {orphan, lost_owner, word};
    hashtable_put_int(own, live.data2, e1);
    hashtable_put_int(own, dead.data2, e2);
    hashtable_put_int(own, orphan.data2, e3);
    // What a collection's marking would have reached:
    for (Node n : {live.data2, orphan.data2, owner_ctx.data2})
        node_buffer(n)->flags |= SERIES_MARK;
    hashtable_purge_unmarked(own);
    for (Node n : {live.data2, orphan.data2, owner_ctx.data2})
        node_buffer(n)->flags &= ~SERIES_MARK;
    EXPECT_NE(hashtable_get_int(own, live.data2), nullptr);
    EXPECT_EQ(hashtable_get_int(own, dead.data2), nullptr);
    EXPECT_EQ(hashtable_get_int(own, orphan.data2), nullptr);
    EXPECT_EQ(hashtable_header(own)->count, 1u);
    // The purged entries have their first two words cleared.
    ValueCell* first = reinterpret_cast<ValueCell*>(node_buffer(values_of(own))->head_ptr());
    EXPECT_EQ(first[4].header, 0u);
    EXPECT_EQ(first[4].data1, 0u);
}

// ---- the collector -----------------------------------------------------------------------------------------

class HashTableGcTest : public HashTableTest {
protected:
    void SetUp() override {
        HashTableTest::SetUp();
        g_gc.enabled = true;
    }
};

TEST_F(HashTableGcTest, TablesSurviveCollectionOnEveryAllocation) {
    ValueCell* mp = stack_push_cell();
    ValueCell mblk = block_of({string_cell(U"a"), int_cell(1), string_cell(U"b"), int_cell(2),
                               string_cell(U"A"), int_cell(3)});
    cell_init(mp, TYPE_MAP, 0, mblk.data2, 0);
    set_collect_stress(true);
    u32 cycles = g_gc.series_cycles;
    Node st = make_symbol_table(4);
    ValueCell* syms = stack_push_cell();
    cell_init(syms, TYPE_BLOCK, 0, values_of(st), 0);
    // The symbol table is rooted through its mark callback.
    for (int i = 0; i < 60; i++) sym(st, "name-" + std::to_string(i));

    ValueCell* h = stack_push_cell();
    Node t = hashtable_init(4, nullptr, HASH_KIND_HASH, 1);
    cell_init(h, TYPE_HASH, 0, values_of(t), t);
    for (i32 i = 0; i < 80; i++) {
        append_cell(h->data2, int_cell(i % 30));
        hashtable_put(h->data3, cells(h->data2) + i);
    }
    Node m = hashtable_init(3, mp, HASH_KIND_MAP, 1);
    mp->data3 = m;
    set_collect_stress(false);
    EXPECT_GT(g_gc.series_cycles, cycles + 50);

    for (int i = 0; i < 60; i++)
        EXPECT_EQ(sym(st, "name-" + std::to_string(i)),
                  static_cast<u32>(i + 1));
    for (i32 v = 0; v < 30; v++) {
        ValueCell k = int_cell(v);
        ValueCell* r = hashtable_get(h->data3, &k, 0, 1, 0, true, false);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r - cells(h->data2), v + (v < 20 ? 60 : 30));
    }
    EXPECT_EQ(hashtable_header(mp->data3)->count, 3u);
    ValueCell b = string_cell(U"b");
    ValueCell* r = hashtable_get(mp->data3, &b, 0, 1, 0, false, false);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[1].data2, 2u);
}

TEST_F(HashTableGcTest, PointerKeysFollowNodesThatCompactionMoved) {
    // Strings spread over three node frames; every tenth is kept in a block
    // and entered in a pointer-keyed table under its node.
    g_gc.node_compaction_enabled = true;  // evacuation runs only on request
    ValueCell* blk = stack_push_cell();
    *blk = block_of({}, 4);
    ValueCell* tab = stack_push_cell();
    cell_init(tab, TYPE_HASH, 0, 0, hashtable_init(16, nullptr, HASH_KIND_POINTER, 1));
    for (u32 i = 0; i < 3 * NODE_FRAME_CAPACITY - 100; i++) {
        ValueCell s = string_cell(U"s");
        if (i % 10) continue;
        ValueCell* held = stack_push(&s);
        append_cell(g_stack.base[0].data2, *held);
        ValueCell v = int_cell(static_cast<i32>(i / 10));
        hashtable_put_int(g_stack.base[1].data3, held->data2, &v);
        stack_pop(1);
    }
    u32 before = g_gc.nodes_cycles;
    for (int i = 0; i < 9; i++) gc_collect();
    ASSERT_GT(g_gc.nodes_cycles, before) << "no node frame was evacuated";
    Node table = g_stack.base[1].data3;
    Node strings = g_stack.base[0].data2;
    u32 n = length(strings);
    ASSERT_EQ(n, (3 * NODE_FRAME_CAPACITY - 100 + 9) / 10);
    for (u32 k = 0; k < n; k++) {
        ValueCell* e = hashtable_get_int(table, cells(strings)[k].data2);
        ASSERT_NE(e, nullptr) << k;
        EXPECT_EQ(e[1].data2, k);
    }
}

// ---- the integer map ------------------------------------------------------------------------------------------

TEST_F(HashTableTest, IntegerMapPutsGetsDeletesAndResizesInPlace) {
    IntMap* m = intmap_create(3);
    EXPECT_EQ(m->buckets, 8u);
    EXPECT_EQ(m->threshold, 6u);
    for (u32 k = 1; k <= 6; k++) intmap_put(m, k * 4096, k);
    EXPECT_EQ(m->buckets, 8u);
    intmap_put(m, 7 * 4096, 7);  // fill reached the threshold: doubles
    EXPECT_EQ(m->buckets, 16u);
    intmap_put(m, 4096, 100);  // overwrite
    EXPECT_EQ(m->count, 7u);
    EXPECT_EQ(*intmap_get(m, 4096), 100u);
    EXPECT_EQ(intmap_get(m, 5), nullptr);
    EXPECT_EQ(intmap_find(m, 5), -1);
    EXPECT_GE(intmap_find(m, 2 * 4096), 0);
    intmap_delete(m, 2 * 4096);
    EXPECT_EQ(intmap_get(m, 2 * 4096), nullptr);
    EXPECT_EQ(m->count, 6u);

    // Growing and shrinking in place keeps every entry.
    for (u32 k = 100; k < 2100; k++) intmap_put(m, k, k * 3);
    intmap_resize(m, 1u << 14);
    EXPECT_EQ(m->buckets, 1u << 14);
    for (u32 k = 100; k < 2100; k++) ASSERT_EQ(*intmap_get(m, k), k * 3);
    for (u32 k = 100; k < 2090; k++) intmap_delete(m, k);
    intmap_resize(m, 64);
    EXPECT_EQ(m->buckets, 64u);
    EXPECT_EQ(m->threshold, 49u);
    EXPECT_EQ(m->fill, m->count);
    for (u32 k = 2090; k < 2100; k++) ASSERT_EQ(*intmap_get(m, k), k * 3);
    EXPECT_EQ(*intmap_get(m, 7 * 4096), 7u);
    // Not below the live count: nothing happens.
    intmap_resize(m, 4);
    EXPECT_EQ(m->buckets, 64u);
    intmap_clear(m);
    EXPECT_EQ(m->count, 0u);
    EXPECT_EQ(intmap_get(m, 2095), nullptr);
    intmap_destroy(m);
}

}  // namespace
}  // namespace zan
