// Start-up up to the seal depends only on the build: two processes that
// differ in directory, arguments, environment and time zone reach the very
// same heap there, and the process module (library/99-process.zan) then
// makes each its own values. Each start runs in a child process, since it
// needs a runtime that has not started yet.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "boot/boot_test_support.h"
#include "runtime/core/heap.h"
#include "runtime/io/host/os_env.h"

namespace zan {
namespace {

using boottest::ev;
using boottest::TempRoot;

// The surroundings of one child process.
struct Surroundings {
    std::string home;
    std::string tz;
    std::string term;
    std::vector<std::string> args;
};

// What a child reports: the digest after the seal (0 when start-up failed)
// and whether the values made after it are this process's own.
struct Report {
    u64 digest = 0;
    bool own_values = false;
};

// In the child: the surroundings, a fresh directory, start-up from the
// given root (the embedded image when empty), and the checks.
Report start_in(const Surroundings& s, const std::string& root) {
    Report r;
    setenv("HOME", s.home.c_str(), 1);
    setenv("TZ", s.tz.c_str(), 1);
    setenv("TERM", s.term.c_str(), 1);
    char tmpl[] = "/tmp/zan-process-test-XXXXXX";
    if (!::mkdtemp(tmpl) || ::chdir(tmpl) != 0) return r;
    std::string dir = std::filesystem::canonical(tmpl).string() + "/";
    BootConfig c;
    if (root.empty()) c.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    else c.library_dir = root;
    c.args = s.args;
    c.sealed_digest = &r.digest;
    if (boot_start(c).status != 0) r.digest = 0;
    std::string line = command_line_join(host_command_args());
    r.own_values = root.empty()
                       ? ev("system/options/path") == "%" + dir &&
                             ev("system/options/cache") == "%" + s.home + "/.zan/" &&
                             ev("system/script/args") == "\"" + line + "\"" &&
                             ev("either system/build/git [system/build/git/date/zone = now/zone]"
                                "[true]") == "true"
                       : true;
    // The directory is owned by the options as the value made with them
    // is: changing the series in place reaches the change handler (which
    // refuses the folder named by the appended part alone).
    if (root.empty())
        r.own_values = r.own_values && ev("append system/options/path %sub/").find(
                                           "cannot open: %sub/") != std::string::npos;
    std::filesystem::remove_all(tmpl);
    return r;
}

Report in_child(const Surroundings& s, const std::string& root = "") {
    int fd[2];
    if (pipe(fd) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        Report r = start_in(s, root);
        ssize_t n = write(fd[1], &r, sizeof r);
        _exit(n == sizeof r ? 0 : 1);
    }
    close(fd[1]);
    Report r;
    if (read(fd[0], &r, sizeof r) != sizeof r) r = {};
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

const Surroundings kFirst{"/tmp/home-one", "UTC", "dumb", {"zan"}};
const Surroundings kSecond{"/tmp/a/much/longer/home/folder", "Asia/Kolkata", "xterm-256color",
                           {"/usr/local/bin/zan", "script.zan", "--flag", "x"}};

class ProcessModule : public ::testing::Test {
protected:
    void SetUp() override {
        if (g_heap_base) GTEST_SKIP() << "needs a process whose runtime has not started (ctest runs each test alone)";
    }
};

TEST_F(ProcessModule, TheHeapAtTheSealIsTheSameInEveryProcess) {
    Report one = in_child(kFirst);
    Report two = in_child(kSecond);
    ASSERT_NE(one.digest, 0u);
    ASSERT_NE(two.digest, 0u);
    EXPECT_EQ(one.digest, two.digest)
        << "a module before the seal read something of its process (see docs/boot.md)";
    EXPECT_TRUE(one.own_values);
    EXPECT_TRUE(two.own_values);
}

// The digest does see a module that reads its process: without that, the
// case above could not fail.
TEST_F(ProcessModule, AModuleReadingItsProcessChangesTheHeapAtTheSeal) {
    TempRoot root(std::vector<std::pair<std::string, std::string>>{
        {"library/02-reads-home.zan", "reads-home: get-env \"HOME\"\n"}});
    Report one = in_child(kFirst, root.dir());
    Report two = in_child(kSecond, root.dir());
    ASSERT_NE(one.digest, 0u);
    ASSERT_NE(two.digest, 0u);
    EXPECT_NE(one.digest, two.digest);
}

}  // namespace
}  // namespace zan
