// Address-space bookkeeping of the heap region: a bump pointer plus a
// first-fit list of released ranges, merged with their neighbours.
#include "runtime/core/heap.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace zan {

u8* g_heap_base = nullptr;
u64 g_heap_size = 0;

namespace {
size_t g_page = 0;
size_t g_bump = 0;       // first never-used byte of the region
size_t g_committed = 0;
std::map<size_t, size_t> g_free;  // offset -> length, released ranges
// The span that holds pages mapped from a file (heap_region_map_file).
size_t g_file_lo = 0, g_file_hi = 0;

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

void* heap_region_alloc(size_t size) {
    if (!g_heap_base && !heap_region_init()) return nullptr;
    size = round_up(size ? size : 1, heap_page_size());
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
        heap_region_free(p, size);
        return nullptr;
    }
    g_committed += size;
    return p;
}

void heap_region_free(void* block, size_t size) {
    if (!block) return;
    size = round_up(size ? size : 1, heap_page_size());
    u8* p = static_cast<u8*>(block);
    // Give the pages back and make stale handles fault instead of reading junk.
    // Pages mapped from a file would come back with the file's bytes after
    // MADV_DONTNEED, so over that span fresh anonymous pages replace them.
    size_t at = static_cast<size_t>(p - g_heap_base);
    if (at < g_file_hi && at + size > g_file_lo) {
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
    size_t off = static_cast<size_t>(p - g_heap_base);
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

size_t heap_region_committed() { return g_committed; }

size_t heap_region_bump() { return g_bump; }
bool heap_region_has_holes() { return !g_free.empty(); }

bool heap_region_extend(size_t new_bump) {
    if (!g_heap_base || new_bump < g_bump || new_bump > g_heap_size ||
        new_bump % heap_page_size() != 0)
        return false;
    if (new_bump == g_bump) return true;
    if (mprotect(g_heap_base + g_bump, new_bump - g_bump, PROT_READ | PROT_WRITE) != 0)
        return false;
    g_committed += new_bump - g_bump;
    g_bump = new_bump;
    return true;
}

bool heap_region_map_file(size_t at, size_t length, int fd, u64 file_offset) {
    const size_t page = heap_page_size();
    if (!g_heap_base || at < page || at % page || length % page || file_offset % page ||
        at + length > g_bump)
        return false;
    for (const auto& [off, len] : g_free)
        if (off < at + length && at < off + len) return false;
    void* p = mmap(g_heap_base + at, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd,
                   static_cast<off_t>(file_offset));
    if (p == MAP_FAILED) {
        // The range may be partly replaced: it is made committed, zeroed
        // memory again, as it was before the call apart from its bytes.
        mmap(g_heap_base + at, length, PROT_READ | PROT_WRITE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        return false;
    }
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
