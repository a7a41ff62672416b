// The decoded image saved at build time: restoring it leaves the runtime in
// the very state that decoding the image does, and it is refused (with
// nothing changed) when the runtime before it is not the one it was saved
// from. Each case runs in a child process, since it needs a runtime that
// has not started yet.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "boot/boot_heap.h"
#include "boot/embedded_image.h"
#include "boot/startup.h"
#include "runtime/core/heap.h"
#include "runtime/core/memory.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan::boot_heap_cases {
namespace {

enum class Case {
    decode,
    restore,         // the embedded pages, mapped from the executable file
    restore_copied,  // the same bytes from ordinary memory, copied in
    restore_after_extra_allocation,
    restore_truncated
};

constexpr u64 kRefused = 1;

std::span<const u8> saved_heap() { return {zan_boot_heap_data, zan_boot_heap_size}; }

// Whether some range of the heap region is mapped from a file.
bool mapped_into_heap() {
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (!maps) return false;
    bool found = false;
    char line[512];
    uintptr_t base = reinterpret_cast<uintptr_t>(g_heap_base);
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long lo = 0, hi = 0, inode = 0;
        if (std::sscanf(line, "%lx-%lx %*s %*s %*s %lu", &lo, &hi, &inode) == 3 && inode != 0 &&
            lo >= base && hi <= base + g_heap_size)
            found = true;
    }
    std::fclose(maps);
    return found;
}

// In the child: the runtime as start-up prepares it, then the case; the
// digest of the state reached, kRefused when a restore was refused and the
// image still decodes after it, 0 on any other failure.
u64 run_case(Case c) {
    boot_prepare_runtime();
    if (c == Case::restore_after_extra_allocation) alloc_cells(3);
    std::span<const u8> saved = saved_heap();
    if (c == Case::restore_truncated) saved = saved.first(saved.size() / 2);
    std::vector<u8> copy;
    if (c == Case::restore_copied) {
        copy.assign(saved.begin(), saved.end());
        saved = copy;
    }
    bool must_restore = c == Case::restore || c == Case::restore_copied;
    u32 values = 0;
    if (c != Case::decode) {
        if (boot_heap_restore(saved, &values)) {
            if (!must_restore || mapped_into_heap() != (c == Case::restore)) return 0;
            return boot_heap_digest(values);
        }
        if (must_restore) return 0;
    }
    ZanbinBootResult r =
        zanbin_boot_decode(std::span<const u8>(zan_boot_image_data, zan_boot_image_size), false);
    if (r.status != ZanbinBootStatus::ok) return 0;
    return c == Case::decode ? boot_heap_digest(r.values) : kRefused;
}

u64 in_child(Case c) {
    int fd[2];
    if (pipe(fd) != 0) return 0;
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        u64 d = run_case(c);
        ssize_t n = write(fd[1], &d, sizeof d);
        _exit(n == sizeof d ? 0 : 1);
    }
    close(fd[1]);
    u64 d = 0;
    if (read(fd[0], &d, sizeof d) != sizeof d) d = 0;
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return d;
}

class BootHeap : public ::testing::Test {
protected:
    void SetUp() override {
        if (g_heap_base) GTEST_SKIP() << "needs a process whose runtime has not started (ctest runs each test alone)";
        ASSERT_GT(zan_boot_heap_size, 0u);
    }
};

TEST_F(BootHeap, RestoringReachesTheStateThatDecodingReaches) {
    u64 decoded = in_child(Case::decode);
    u64 restored = in_child(Case::restore);
    u64 copied = in_child(Case::restore_copied);
    ASSERT_GT(decoded, kRefused);
    ASSERT_GT(restored, kRefused) << "the saved heap was refused by a runtime prepared as start-up "
                                     "does, or its pages were not mapped from the executable";
    ASSERT_GT(copied, kRefused) << "the saved heap in ordinary memory was refused or mapped";
    EXPECT_EQ(restored, decoded);
    EXPECT_EQ(copied, decoded);
}

TEST_F(BootHeap, ADifferentRuntimeOrADamagedSavedHeapIsRefused) {
    EXPECT_EQ(in_child(Case::restore_after_extra_allocation), kRefused);
    EXPECT_EQ(in_child(Case::restore_truncated), kRefused);
}

// The fingerprint's lanes come out the same from the table as from the
// processor's instruction, so a heap saved on one machine is accepted on
// another.
TEST(BootHeapFingerprint, TableAndInstructionAgree) {
    std::vector<u8> bytes(32 * 64);
    u32 x = 12345;
    for (u8& b : bytes) b = static_cast<u8>((x = x * 1103515245u + 12345u) >> 16);
    for (u64 blocks : {u64(0), u64(1), u64(3), u64(64)}) {
        u32 portable[4], native[4];
        boot_heap_crc_lanes(bytes.data(), blocks, portable, native);
        for (int k = 0; k < 4; k++) EXPECT_EQ(portable[k], native[k]) << blocks << " blocks, lane " << k;
        if (blocks) {
            EXPECT_NE(portable[0], 1u);
        }
    }
}

}  // namespace
}  // namespace zan::boot_heap_cases
