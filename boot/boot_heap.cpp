// The decoded boot image, saved at build time and put back at start-up.
//
// Layout of the saved heap (little-endian 64-bit words, then pages):
//   magic, the count of state words, the state words before the decoding,
//   the fingerprint of the heap before it, the count of words after it, the
//   words after it, the count of pages, their offsets, then the pages.
#include "boot/boot_heap.h"

#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "boot/heap_crc_lanes.h"
#include "runtime/core/heap.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/io/zanbin/zanbin.h"
#include "runtime/typesystem/runtime_support.h"

namespace zan {

namespace {

constexpr u64 kMagic = 0x31504145484E415Aull;  // "ZANHEAP1"

u64 offset_of(const void* p) {
    return p ? static_cast<u64>(static_cast<const u8*>(p) - g_heap_base) : ~u64(0);
}

// The memory manager's counters and frame lists, in a fixed order.
void mem_words(std::vector<u64>* out) {
    const MemoryState& m = g_mem;
    for (u64 w : {u64(m.total), u64(m.node_head), u64(m.node_tail), u64(m.node_active),
                  u64(m.series_head), u64(m.series_active), u64(m.series_tail),
                  u64(m.series_first_size), u64(m.series_size), u64(m.series_max_size),
                  u64(m.big_head), u64(m.fixed_count), u64(m.allocated), u64(m.survived)})
        out->push_back(w);
}
static_assert(kMemWords == 14);

void set_mem(const u64* w) {
    MemoryState& m = g_mem;
    m.total = w[0];
    m.node_head = static_cast<HeapRef>(w[1]);
    m.node_tail = static_cast<HeapRef>(w[2]);
    m.node_active = static_cast<HeapRef>(w[3]);
    m.series_head = static_cast<HeapRef>(w[4]);
    m.series_active = static_cast<HeapRef>(w[5]);
    m.series_tail = static_cast<HeapRef>(w[6]);
    m.series_first_size = static_cast<u32>(w[7]);
    m.series_size = static_cast<u32>(w[8]);
    m.series_max_size = static_cast<u32>(w[9]);
    m.big_head = static_cast<HeapRef>(w[10]);
    m.fixed_count = static_cast<u32>(w[11]);
    m.allocated = w[12];
    m.survived = w[13];
}

// Everything outside the heap's bytes that the decoding reads or that
// places what it makes: equal words mean the same allocations follow.
std::vector<u64> state_words() {
    std::vector<u64> w;
    w.push_back(heap_page_size());
    w.push_back(heap_region_bump());
    w.push_back(heap_region_committed());
    w.push_back(heap_region_has_holes() ? 1 : 0);
    mem_words(&w);
    const std::vector<Node>& fixed = memory_fixed_nodes();
    w.push_back(fixed.size());
    for (Node n : fixed) w.push_back(n);
    w.push_back(g_boot_cells_first);
    w.push_back(offset_of(g_stack.top));
    w.push_back(offset_of(g_stack.base));
    w.push_back(offset_of(g_stack.ctop));
    w.push_back(block_node(&g_root_block));
    w.push_back(block_node(&g_symbols.block));
    w.push_back(g_symbols.hash);
    w.push_back(g_global_ctx);
    return w;
}

using Range = std::pair<u64, u64>;  // [begin, end) offsets in the region

// The bytes of the heap that mean something: every node frame and big
// frame whole, each series frame up to its first free byte, each fixed
// buffer up to its tail, and the used parts of the two stacks. The rest
// (frame room never handed out, stack cells above the tops) is never read
// before it is written. Sorted and merged.
std::vector<Range> live_ranges() {
    std::vector<Range> r;
    auto whole = [&](HeapRef frame) {  // alloc_virtual keeps the size in front
        u32 size;
        std::memcpy(&size, hptr(frame - 4), 4);
        r.push_back({frame - 4, u64(frame) - 4 + size});
    };
    for (HeapRef f = g_mem.node_head; f; f = hptr<NodeFrame>(f)->next) whole(f);
    for (HeapRef f = g_mem.big_head; f; f = hptr<BigFrame>(f)->next) whole(f);
    for (HeapRef f = g_mem.series_head; f; f = hptr<SeriesFrame>(f)->next)
        r.push_back({f - 4, hptr<SeriesFrame>(f)->heap});
    for (Node n : memory_fixed_nodes())
        r.push_back({node_slot(n), node_buffer(n)->tail});
    r.push_back({offset_of(g_stack.bottom), offset_of(g_stack.top)});
    r.push_back({offset_of(g_stack.cbottom), offset_of(g_stack.ctop)});
    std::sort(r.begin(), r.end());
    std::vector<Range> merged;
    for (const Range& x : r) {
        if (x.first >= x.second) continue;
        if (!merged.empty() && x.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, x.second);
        else
            merged.push_back(x);
    }
    return merged;
}

// A fingerprint of the live bytes: four CRC-32C lanes over 64-bit words
// (the processor's instruction where it has one, the same sums from a
// table otherwise), then the odd bytes and each range's bounds.
u64 fingerprint(const std::vector<Range>& ranges) {
    static const bool sse42 = __builtin_cpu_supports("sse4.2");
    u32 h[4] = {1, 2, 3, 4};
    u64 tail = 5;
    for (const Range& x : ranges) {
        const u8* p = g_heap_base + x.first;
        u64 n = x.second - x.first;
        if (sse42) heap_crc_lanes_sse42(h, p, n / 32);
        else heap_crc_lanes_portable(h, p, n / 32);
        p += n / 32 * 32;
        for (n %= 32; n; n--, p++) tail = (tail + *p) * 0x100000001B3ull;
        tail = (tail + x.first + (x.second << 32)) * 0x9E3779B97F4A7C15ull;
    }
    u64 lanes = (u64(h[0]) << 32 | h[1]) ^ ((u64(h[2]) << 32 | h[3]) * 0x9E3779B97F4A7C15ull);
    return lanes ^ (tail * 11);
}

}  // namespace

namespace {

void put(std::vector<u8>* out, u64 w) {
    u8 b[8];
    std::memcpy(b, &w, 8);
    out->insert(out->end(), b, b + 8);
}

bool zero_page(const u8* p, size_t page) {
    for (size_t i = 0; i < page; i++)
        if (p[i]) return false;
    return true;
}

// A reader over the saved heap that fails instead of reading past its end.
struct Reader {
    std::span<const u8> data;
    size_t at = 0;
    bool ok = true;
    u64 word() {
        if (!ok || data.size() - at < 8) {
            ok = false;
            return 0;
        }
        u64 w;
        std::memcpy(&w, data.data() + at, 8);
        at += 8;
        return w;
    }
};

// Where the bytes at p lie in the file of the running executable, when they
// are part of a segment loaded from it; -1 otherwise.
i64 executable_file_offset(const void* p, size_t n) {
    struct Query {
        uintptr_t at;
        size_t n;
        i64 offset = -1;
    } q{reinterpret_cast<uintptr_t>(p), n};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* q = static_cast<Query*>(data);
            for (int i = 0; i < info->dlpi_phnum; i++) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                uintptr_t start = info->dlpi_addr + ph.p_vaddr;
                if (ph.p_type != PT_LOAD || q->at < start || q->at + q->n > start + ph.p_filesz)
                    continue;
                q->offset = static_cast<i64>(ph.p_offset + (q->at - start));
                return 1;
            }
            return 1;  // the first object is the executable
        },
        &q);
    return q.offset;
}

// Puts the saved pages in place: runs of consecutive pages are mapped from
// the executable when the data is part of it (so that pages never written
// are never copied), each other run is copied.
void place_pages(const u8* offsets, const u8* data, u64 pages, size_t page) {
    int fd = -1;
    i64 file_at = executable_file_offset(data, pages * page);
    if (file_at >= 0 && file_at % static_cast<i64>(page) == 0)
        fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    // /proc/self/exe names the loader, not the program, when the program was
    // started through the loader: the file must hold these very pages.
    if (fd >= 0 && pages) {
        std::vector<u8> check(page);
        for (u64 k : {u64(0), pages - 1}) {
            if (::pread(fd, check.data(), page, static_cast<off_t>(file_at + k * page)) !=
                    static_cast<ssize_t>(page) ||
                std::memcmp(check.data(), data + k * page, page) != 0) {
                ::close(fd);
                fd = -1;
                break;
            }
        }
    }
    u64 i = 0;
    while (i < pages) {
        u64 first;
        std::memcpy(&first, offsets + i * 8, 8);
        u64 run = 1;
        for (; i + run < pages; run++) {
            u64 off;
            std::memcpy(&off, offsets + (i + run) * 8, 8);
            if (off != first + run * page) break;
        }
        if (fd < 0 || !heap_region_map_file(first, run * page, fd,
                                            static_cast<u64>(file_at) + i * page))
            std::memcpy(g_heap_base + first, data + i * page, run * page);
        i += run;
    }
    if (fd >= 0) ::close(fd);
}

}  // namespace

void boot_heap_before(BootHeapBefore* b) {
    const size_t page = heap_page_size();
    b->state = state_words();
    // Released ranges are not readable: the bytes below the bump are copied
    // only when there are none.
    b->holes = heap_region_has_holes();
    b->print = fingerprint(live_ranges());
    b->bump = heap_region_bump();
    b->bytes.clear();
    if (!b->holes) b->bytes.assign(g_heap_base + page, g_heap_base + b->bump);
    b->fixed = memory_fixed_nodes();
    b->top = g_stack.top;
    b->base = g_stack.base;
    b->ctop = g_stack.ctop;
}

bool boot_heap_savable(const BootHeapBefore& b) {
    return !b.holes && !heap_region_has_holes() && memory_fixed_nodes() == b.fixed &&
           g_stack.top == b.top && g_stack.base == b.base && g_stack.ctop == b.ctop;
}

void boot_heap_write(u64 magic, const BootHeapBefore& b, const std::vector<u64>& more,
                     std::vector<u8>* out) {
    const size_t page = heap_page_size();
    out->clear();
    put(out, magic);
    put(out, b.state.size());
    for (u64 w : b.state) put(out, w);
    put(out, b.print);
    std::vector<u64> after;
    mem_words(&after);
    after.push_back(heap_region_bump());
    after.push_back(heap_region_committed());
    after.insert(after.end(), more.begin(), more.end());
    put(out, after.size());
    for (u64 w : after) put(out, w);
    // The pages of live bytes that changed: those that changed below the
    // old bump, those that are not zero above it.
    std::vector<u64> pages;
    for (const Range& x : live_ranges()) {
        for (u64 off = x.first / page * page; off < x.second; off += page) {
            if (!pages.empty() && pages.back() >= off) continue;
            const u8* now = g_heap_base + off;
            bool changed = off < b.bump
                               ? std::memcmp(now, b.bytes.data() + (off - page), page) != 0
                               : !zero_page(now, page);
            if (changed) pages.push_back(off);
        }
    }
    put(out, pages.size());
    for (u64 off : pages) put(out, off);
    out->resize((out->size() + page - 1) / page * page, 0);
    for (u64 off : pages) out->insert(out->end(), g_heap_base + off, g_heap_base + off + page);
}

bool boot_heap_read(std::span<const u8> saved, u64 magic, BootHeapSaved* out) {
    const size_t page = heap_page_size();
    Reader r{saved};
    if (r.word() != magic) return false;
    std::vector<u64> now = state_words();
    u64 count = r.word();
    if (!r.ok || count != now.size()) return false;
    for (u64 w : now)
        if (r.word() != w) return false;
    u64 print = r.word();
    if (!r.ok || heap_region_has_holes() || print != fingerprint(live_ranges())) return false;
    u64 words = r.word();
    if (!r.ok || words < kMemWords + 2 || words > (saved.size() - r.at) / 8) return false;
    out->after.assign(words, 0);
    for (u64& w : out->after) w = r.word();
    u64 pages = r.word();
    if (!r.ok || pages > (saved.size() - r.at) / 8) return false;
    const u8* offsets = saved.data() + r.at;
    size_t data_at = (r.at + pages * 8 + page - 1) / page * page;
    if (data_at > saved.size() || pages > (saved.size() - data_at) / page) return false;
    u64 new_bump = out->after[kMemWords];
    for (u64 i = 0; i < pages; i++) {
        u64 off;
        std::memcpy(&off, offsets + i * 8, 8);
        if (off < page || off % page || off + page > new_bump) return false;
    }
    if (new_bump < heap_region_bump() ||
        out->after[kMemWords + 1] != heap_region_committed() + (new_bump - heap_region_bump()))
        return false;
    out->offsets = offsets;
    out->data = saved.data() + data_at;
    out->pages = pages;
    return true;
}

bool boot_heap_extend(const BootHeapSaved& saved) {
    return heap_region_extend(saved.after[kMemWords]);
}

void boot_heap_put(const BootHeapSaved& saved) {
    place_pages(saved.offsets, saved.data, saved.pages, heap_page_size());
    set_mem(saved.after.data());
}

bool boot_heap_capture(std::span<const u8> image, std::vector<u8>* out, std::string* error) {
    out->clear();
    BootHeapBefore before;
    boot_heap_before(&before);
    ZanbinBootResult decoded = zanbin_boot_decode(image, false);
    if (decoded.status != ZanbinBootStatus::ok) {
        *error = zanbin_boot_status_message(decoded.status);
        return false;
    }
    if (!boot_heap_savable(before)) {
        *error = "the heap region had released ranges, or the decoding released pages, made "
                 "fixed buffers or moved the stacks";
        return true;
    }
    boot_heap_write(kMagic, before, {g_boot_cells_first, decoded.values}, out);
    return true;
}

u64 boot_heap_digest(u32 values) {
    std::vector<u64> words = state_words();
    words.push_back(values);
    u64 h = fingerprint(live_ranges());
    for (u64 w : words) h = (h ^ w) * 0x100000001B3ull;
    return h ? h : 1;
}

bool boot_heap_restore(std::span<const u8> saved, u32* values) {
    BootHeapSaved s;
    if (!boot_heap_read(saved, kMagic, &s) || s.after.size() != kBootHeapWords + 2 ||
        !boot_heap_extend(s))
        return false;
    boot_heap_put(s);
    g_boot_cells_first = static_cast<u32>(s.after[kBootHeapWords]);
    *values = static_cast<u32>(s.after[kBootHeapWords + 1]);
    return true;
}

}  // namespace zan
