// Address-space bookkeeping of the heap region: a bump pointer, a first-fit
// list of released ranges merged with their neighbours, and the warm ranges:
// blocks freed but kept committed, so that the next allocations reuse pages
// that are already mapped instead of faulting fresh ones in.
#include "runtime/core/heap.h"
#include "runtime/core/heap_region_internal.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ZAN_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define ZAN_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define ZAN_POISON(p, n) ((void)(p), (void)(n))
#define ZAN_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace zan {

u8* g_heap_base = nullptr;
u64 g_heap_size = 0;
size_t g_heap_warm_bytes = 0;

namespace {
size_t g_page = 0;
size_t g_bump = 0;       // first never-used byte of the region
size_t g_committed = 0;  // committed bytes: handed out, or warm
std::map<size_t, size_t> g_free;  // offset -> length, released ranges
// The span that holds pages mapped from a file (heap_region_map_file).
size_t g_file_lo = 0, g_file_hi = 0;

// Warm ranges: offset -> length and the time of the free that made them (a
// counter), merged with warm neighbours. Their pages stay committed and
// writable; in a sanitizer build they are poisoned, so that a stale access
// is reported as a released page's fault would have been.
struct Warm {
    size_t length;
    u64 stamp;
};
std::map<size_t, Warm> g_warm;
u64 g_free_count = 0;
// Bytes handed out at most since the last settling, and the high-water
// mark the warm ranges are kept up to.
size_t g_peak_in_use = 0;
size_t g_high_water = 0;
// The peaks of the last settlings.
constexpr size_t RECENT_SETTLINGS = 8;
size_t g_recent_peaks[RECENT_SETTLINGS] = {};
size_t g_settle_count = 0;
constexpr size_t WARM_SLACK_MIN = size_t(4) << 20;

size_t round_up(size_t n, size_t to) { return (n + to - 1) / to * to; }

// What a limit of the address space (ulimit -v) must leave free beside the
// region: the evaluation thread's stack, the C++ heap, the libraries.
constexpr u64 kRoomForTheRest = u64(256) << 20;

// The address space the process holds now, in bytes (0 when unknown).
u64 address_space_in_use() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long pages = 0;
    int got = std::fscanf(f, "%lu", &pages);
    std::fclose(f);
    return got == 1 ? u64(pages) * heap_page_size() : 0;
}

// The first size worth trying: the full span, or under a limit of the
// address space the largest of its halves that leaves kRoomForTheRest free
// (at least the floor).
u64 largest_size_allowed() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return HEAP_REGION_SIZE;
    u64 taken = address_space_in_use() + kRoomForTheRest;
    u64 room = limit.rlim_cur > taken ? limit.rlim_cur - taken : 0;
    u64 size = HEAP_REGION_SIZE;
    while (size > room && size > HEAP_REGION_MIN_SIZE) size /= 2;
    return size;
}

size_t in_use() { return g_committed - g_heap_warm_bytes; }

void note_in_use() { g_peak_in_use = std::max(g_peak_in_use, in_use()); }

// Adds a range to the released ones, merged with its neighbours.
void add_free_range(size_t off, size_t size) {
    auto next = g_free.lower_bound(off);
    if (next != g_free.end() && off + size == next->first) {
        size += next->second;
        next = g_free.erase(next);
    }
    if (next != g_free.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == off) {
            prev->second += size;
            return;
        }
    }
    g_free.emplace(off, size);
}

// Gives committed pages back to the system and makes stale handles fault
// instead of reading junk. Pages mapped from a file would come back with
// the file's bytes after MADV_DONTNEED, so over that span fresh anonymous
// pages replace them.
void release_pages(size_t off, size_t size) {
    u8* p = g_heap_base + off;
    ZAN_UNPOISON(p, size);
    if (off < g_file_hi && off + size > g_file_lo) {
        if (mmap(p, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1,
                 0) == MAP_FAILED) {
            std::memset(p, 0, size);
            mprotect(p, size, PROT_NONE);
        }
    } else {
        madvise(p, size, MADV_DONTNEED);
        mprotect(p, size, PROT_NONE);
    }
    if (g_committed >= size) g_committed -= size;
    add_free_range(off, size);
}

// Adds a freed block to the warm ranges, merged with warm neighbours (the
// merged range takes the newest stamp).
void add_warm(size_t off, size_t size) {
    ZAN_POISON(g_heap_base + off, size);
    g_heap_warm_bytes += size;
    u64 stamp = ++g_free_count;
    auto next = g_warm.lower_bound(off);
    if (next != g_warm.end() && off + size == next->first) {
        size += next->second.length;
        next = g_warm.erase(next);
    }
    if (next != g_warm.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second.length == off) {
            prev->second.length += size;
            prev->second.stamp = stamp;
            return;
        }
    }
    g_warm.emplace(off, Warm{size, stamp});
}

// A warm block of size bytes, or 0: a range of exactly that size freed
// last, else the smallest range that holds it (the newest among equals),
// whose front part is taken.
size_t take_warm(size_t size) {
    auto best = g_warm.end();
    for (auto it = g_warm.begin(); it != g_warm.end(); ++it) {
        size_t len = it->second.length;
        if (len < size) continue;
        if (best == g_warm.end()) {
            best = it;
            continue;
        }
        size_t blen = best->second.length;
        bool exact = len == size, bexact = blen == size;
        if (exact != bexact ? exact
                            : (len < blen || (len == blen && it->second.stamp > best->second.stamp)))
            best = it;
    }
    if (best == g_warm.end()) return 0;
    size_t off = best->first;
    Warm w = best->second;
    g_warm.erase(best);
    if (w.length > size) g_warm.emplace(off + size, Warm{w.length - size, w.stamp});
    g_heap_warm_bytes -= size;
    ZAN_UNPOISON(g_heap_base + off, size);
    return off;
}

// Releases the warm ranges freed longest ago until at most keep bytes stay
// warm; a range is cut from its end when part of it may stay.
void trim_warm(size_t keep) {
    while (g_heap_warm_bytes > keep && !g_warm.empty()) {
        auto oldest = g_warm.begin();
        for (auto it = g_warm.begin(); it != g_warm.end(); ++it)
            if (it->second.stamp < oldest->second.stamp) oldest = it;
        size_t off = oldest->first;
        size_t len = oldest->second.length;
        size_t excess = g_heap_warm_bytes - keep;
        size_t cut = std::min(len, round_up(excess, heap_page_size()));
        if (cut < len) {
            oldest->second.length = len - cut;
        } else {
            g_warm.erase(oldest);
        }
        g_heap_warm_bytes -= cut;
        release_pages(off + len - cut, cut);
    }
}

// heap_region_alloc of a rounded size.
void* commit_block(size_t size, bool zeroed) {
    if (size_t warm = take_warm(size)) {
        u8* p = g_heap_base + warm;
        if (zeroed) std::memset(p, 0, size);
        note_in_use();
        return p;
    }
    size_t off = 0;
    for (auto it = g_free.begin(); it != g_free.end(); ++it) {
        if (it->second >= size) {
            off = it->first;
            size_t rest = it->second - size;
            g_free.erase(it);
            if (rest) g_free.emplace(off + size, rest);
            break;
        }
    }
    if (!off) {
        if (g_bump + size > g_heap_size) return nullptr;
        off = g_bump;
        g_bump += size;
    }
    u8* p = g_heap_base + off;
    if (mprotect(p, size, PROT_READ | PROT_WRITE) != 0) {
        add_free_range(off, size);
        return nullptr;
    }
    g_committed += size;
    note_in_use();
    return p;
}
}  // namespace

size_t heap_page_size() {
    if (!g_page) g_page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return g_page;
}

bool heap_region_init() {
    if (g_heap_base) return true;
    void* p = MAP_FAILED;
    u64 size = largest_size_allowed();
    for (; size >= HEAP_REGION_MIN_SIZE; size /= 2) {
        p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) break;
    }
    if (p == MAP_FAILED) return false;
    g_heap_base = static_cast<u8*>(p);
    g_heap_size = size;
    // Offset 0 is the null handle: the first page is never handed out.
    g_bump = heap_page_size();
    return true;
}

void* heap_region_alloc(size_t size, bool zeroed) {
    if (!g_heap_base && !heap_region_init()) return nullptr;
    size = round_up(size ? size : 1, heap_page_size());
    void* p = commit_block(size, zeroed);
    if (!p && g_heap_warm_bytes) {
        // Warm ranges too small for the block may leave room once released
        // and merged with their released neighbours.
        trim_warm(0);
        p = commit_block(size, zeroed);
    }
    return p;
}

void heap_region_free(void* block, size_t size) {
    if (!block) return;
    size = round_up(size ? size : 1, heap_page_size());
    add_warm(static_cast<size_t>(static_cast<u8*>(block) - g_heap_base), size);
}

void heap_region_settle() {
    // The mark follows the highest peak of the last few settlings upwards
    // at once and downwards a quarter of the way at each settling, so warm
    // pages that stay unused are given back over several collections, and
    // a load that comes back every few collections keeps what it uses.
    size_t used = in_use();
    g_recent_peaks[g_settle_count++ % RECENT_SETTLINGS] = std::max(g_peak_in_use, used);
    size_t peak = *std::max_element(g_recent_peaks, g_recent_peaks + RECENT_SETTLINGS);
    g_high_water = peak >= g_high_water ? peak : g_high_water - (g_high_water - peak) / 4;
    g_high_water = round_up(g_high_water, heap_page_size());
    // Beyond the mark, room for a block or two that found no warm range
    // to fit in (the warm pages were there, in smaller pieces): without it
    // such a miss would give back a range at every settling and commit it
    // again before the next.
    size_t slack = std::max(g_high_water / 8, WARM_SLACK_MIN);
    trim_warm(g_high_water > used ? g_high_water - used + slack : slack);
    g_peak_in_use = used;
}

void heap_region_release_warm() { trim_warm(0); }

void heap_region_prefault(void* block, size_t size) {
    // One call maps the pages of a large block that is about to be written
    // whole, instead of a fault for each of them. Only a hint: older
    // systems refuse it, and the writes then fault the pages in as usual.
    constexpr size_t PREFAULT_MIN = size_t(1) << 20;
    constexpr int POPULATE_WRITE = 23;  // MADV_POPULATE_WRITE (Linux 5.14)
    if (size < PREFAULT_MIN) return;
    const size_t page = heap_page_size();
    size_t lo = round_up(reinterpret_cast<size_t>(block), page);
    size_t hi = (reinterpret_cast<size_t>(block) + size) / page * page;
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, POPULATE_WRITE);
}

size_t heap_region_committed() { return g_committed; }


size_t heap_region_bump() { return g_bump; }
bool heap_region_has_holes() { return !g_free.empty() || !g_warm.empty(); }

bool heap_region_extend(size_t new_bump) {
    if (!g_heap_base || new_bump < g_bump || new_bump > g_heap_size ||
        new_bump % heap_page_size() != 0)
        return false;
    if (new_bump == g_bump) return true;
    if (mprotect(g_heap_base + g_bump, new_bump - g_bump, PROT_READ | PROT_WRITE) != 0)
        return false;
    g_committed += new_bump - g_bump;
    g_bump = new_bump;
    note_in_use();
    return true;
}

bool heap_region_grow(void* block, size_t size, size_t new_size) {
    if (!block) return false;
    const size_t page = heap_page_size();
    size = round_up(size ? size : 1, page);
    new_size = round_up(new_size, page);
    if (new_size <= size) return true;
    size_t end = static_cast<size_t>(static_cast<u8*>(block) - g_heap_base) + size;
    size_t more = new_size - size;
    // The pages after the block: a warm range first, then released pages
    // or the bump for what it does not cover.
    auto w = g_warm.find(end);
    size_t from_warm = w != g_warm.end() ? std::min(w->second.length, more) : 0;
    size_t fresh_at = end + from_warm;
    size_t fresh = more - from_warm;
    if (fresh) {
        auto f = g_free.find(fresh_at);
        bool at_bump = fresh_at == g_bump && g_heap_size - g_bump >= fresh;
        if (!at_bump && (f == g_free.end() || f->second < fresh)) return false;
        if (mprotect(g_heap_base + fresh_at, fresh, PROT_READ | PROT_WRITE) != 0) return false;
        if (at_bump) {
            g_bump += fresh;
        } else {
            size_t rest = f->second - fresh;
            g_free.erase(f);
            if (rest) g_free.emplace(fresh_at + fresh, rest);
        }
        g_committed += fresh;
    }
    if (from_warm) {
        Warm rest = w->second;
        g_warm.erase(w);
        if (rest.length > from_warm)
            g_warm.emplace(end + from_warm, Warm{rest.length - from_warm, rest.stamp});
        g_heap_warm_bytes -= from_warm;
        ZAN_UNPOISON(g_heap_base + end, from_warm);
    }
    note_in_use();
    return true;
}

// Makes the private copies of pages just mapped from a file at once. The
// collector writes its marks into them, and a copy made on a page's first
// write after it has been read replaces a mapping the other threads may hold,
// so each such page costs a flush of address translations on the other
// processors. Copied now, before anything has read them, no translation
// exists yet: one call does it all where the kernel can populate for
// writing, else a write to each page (reading a byte and storing it back).
static void copy_in_now(u8* p, size_t length) {
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    if (madvise(p, length, MADV_POPULATE_WRITE) == 0) return;
    const size_t page = heap_page_size();
    for (size_t k = 0; k < length; k += page) {
        volatile u8* b = p + k;
        *b = *b;
    }
}

bool heap_region_map_file(size_t at, size_t length, int fd, u64 file_offset) {
    const size_t page = heap_page_size();
    if (!g_heap_base || at < page || at % page || length % page || file_offset % page ||
        at + length > g_bump)
        return false;
    for (const auto& [off, len] : g_free)
        if (off < at + length && at < off + len) return false;
    for (const auto& [off, w] : g_warm)
        if (off < at + length && at < off + w.length) return false;
    void* p = mmap(g_heap_base + at, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd,
                   static_cast<off_t>(file_offset));
    if (p == MAP_FAILED) {
        // The range may be partly replaced: it is made committed, zeroed
        // memory again, as it was before the call apart from its bytes.
        mmap(g_heap_base + at, length, PROT_READ | PROT_WRITE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        return false;
    }
    copy_in_now(g_heap_base + at, length);
    if (g_file_hi == 0) {
        g_file_lo = at;
        g_file_hi = at + length;
    } else {
        g_file_lo = std::min(g_file_lo, at);
        g_file_hi = std::max(g_file_hi, at + length);
    }
    return true;
}

}  // namespace zan
