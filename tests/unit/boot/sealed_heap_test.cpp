// The library saved after its modules and the seal: a start that puts it
// back reaches the very heap that running the modules reaches at the seal,
// and then the same system; a damaged form, or one that does not fit the
// runtime, is refused and the modules run as before. Each start runs in a
// child process, since it needs a runtime that has not started yet.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "boot/boot_heap.h"
#include "boot/embedded_image.h"
#include "boot/sealed_heap.h"
#include "boot/startup.h"
#include "boot/startup_internal.h"
#include "tests/support/boot_eval.h"
#include "runtime/core/heap.h"
#include "runtime/core/memory.h"

namespace zan::sealed_heap_cases {
namespace {

enum class Case {
    modules,           // no saved library: the modules run
    restore,           // the embedded saved library
    restore_damaged,   // a byte of its state before the decoding changed
    restore_truncated, // cut short
};

std::span<const u8> saved_library() { return {zan_sealed_heap_data, zan_sealed_heap_size}; }

// What a child reports: whether the saved library was used, the digest at
// the seal, and what the started system shows.
struct Report {
    bool restored = false;
    u64 digest = 0;
    std::string shown;
};

// The parts of the system compared: its words, the error a library
// function and the evaluator raise, sealed functions at work, the module
// names, an object's class; the whole system molded (its catalogue and
// options too) when the collector is not stressed (too slow then).
std::string shown() {
    const char* stress = std::getenv("ZAN_GC_STRESS");
    std::string out;
    for (const char* src :
         {"mold words-of system/words", "length? words-of system/words",
          "checksum mold/all system/catalog 'sha1", "1 / 0", "to-integer \"x\"",
          "mold reduce [uppercase \"abc\" 3 + 4 form 1.5 rejoin [\"a\" 1]]",
          "mold body-of :append", "mold system/script/args", "mold words-of make object! [a: 1]",
          "mold system/options/cache"})
        out += boot_eval(src) + "\n";
    if (!(stress && *stress)) out += boot_eval("checksum mold/all system 'sha1") + "\n";
    for (const std::string& m : g_boot_module_names) out += m + ";";
    return out;
}

Report run_case(Case c) {
    Report r;
    BootConfig config;
    config.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    config.saved_heap = std::span<const u8>(zan_boot_heap_data, zan_boot_heap_size);
    config.args = {"zan", "an argument"};
    config.sealed_digest = &r.digest;
    std::vector<u8> copy(saved_library().begin(), saved_library().end());
    if (c == Case::restore_damaged && copy.size() > 64) copy[8 * 10] ^= 1;
    if (c == Case::restore_truncated) copy.resize(copy.size() / 2);
    if (c != Case::modules) config.sealed_heap = copy;
    BootResult started = boot_start(config);
    if (started.status != 0) return r;
    r.restored = started.library_restored;
    r.shown = shown();
    return r;
}

// The report through a pipe: flag, digest, text.
Report in_child(Case c) {
    int fd[2];
    Report r;
    if (pipe(fd) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        Report mine = run_case(c);
        std::string bytes(1, mine.restored ? '1' : '0');
        bytes.append(reinterpret_cast<const char*>(&mine.digest), sizeof mine.digest);
        bytes += mine.shown;
        size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = write(fd[1], bytes.data() + at, bytes.size() - at);
            if (n <= 0) _exit(1);
            at += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fd[1]);
    std::string bytes;
    char buf[4096];
    for (ssize_t n; (n = read(fd[0], buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (bytes.size() < 1 + sizeof r.digest) return r;
    r.restored = bytes[0] == '1';
    std::memcpy(&r.digest, bytes.data() + 1, sizeof r.digest);
    r.shown = bytes.substr(1 + sizeof r.digest);
    return r;
}

class SealedHeap : public ::testing::Test {
protected:
    void SetUp() override {
        if (g_heap_base) GTEST_SKIP() << "needs a process whose runtime has not started (ctest runs each test alone)";
        ASSERT_GT(zan_sealed_heap_size, 0u) << "the build did not save the library after its seal";
    }
};

TEST_F(SealedHeap, PuttingTheLibraryBackReachesWhatTheModulesReach) {
    Report ran = in_child(Case::modules);
    Report restored = in_child(Case::restore);
    ASSERT_NE(ran.digest, 0u);
    EXPECT_FALSE(ran.restored);
    ASSERT_TRUE(restored.restored) << "the saved library was refused by a fresh runtime";
    EXPECT_EQ(restored.digest, ran.digest);
    EXPECT_EQ(restored.shown, ran.shown);
    EXPECT_NE(ran.shown.find("an argument"), std::string::npos);
    EXPECT_NE(ran.shown.find("zero"), std::string::npos);
}

TEST_F(SealedHeap, ADamagedSavedLibraryIsRefusedAndTheModulesRun) {
    Report ran = in_child(Case::modules);
    for (Case c : {Case::restore_damaged, Case::restore_truncated}) {
        Report r = in_child(c);
        EXPECT_FALSE(r.restored) << static_cast<int>(c);
        EXPECT_EQ(r.digest, ran.digest) << static_cast<int>(c);
        EXPECT_EQ(r.shown, ran.shown) << static_cast<int>(c);
    }
}

// A runtime that is not the one the library was saved from (one more
// allocation before it) refuses it and is left as it was.
TEST_F(SealedHeap, ARuntimeThatDiffersRefusesIt) {
    int fd[2];
    ASSERT_EQ(pipe(fd), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        boot_prepare_runtime();
        alloc_cells(3);
        size_t bump = heap_region_bump();
        SealedStart s;
        char ok = !sealed_heap_restore(saved_library(), &s) && heap_region_bump() == bump ? 1 : 0;
        ssize_t n = write(fd[1], &ok, 1);
        _exit(n == 1 ? 0 : 1);
    }
    close(fd[1]);
    char ok = 0;
    ASSERT_EQ(read(fd[0], &ok, 1), 1);
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(ok, 1);
}

}  // namespace
}  // namespace zan::sealed_heap_cases
