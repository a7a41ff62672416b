// Starting the environment in a test: from the module files of the source
// tree, from the embedded image, or from a source root that a test writes
// (the built-in words file and the core values of the tree, plus modules of
// the test's own).
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "boot/boot_image.h"
#include "boot/embedded_image.h"
#include "boot/startup.h"
#include "tests/support/boot_eval.h"

namespace zan::boottest {

// The root of the source tree (the test data folder is tests/data in it).
inline std::string source_root() {
    const char* data = std::getenv("ZAN_TEST_DATA");
    std::filesystem::path p = data ? data : "tests/data";
    return std::filesystem::weakly_canonical(p / ".." / "..").string();
}

inline BootResult start_from(const std::string& root, std::vector<std::string> args = {"zan"}) {
    BootConfig c;
    c.library_dir = root;
    c.args = std::move(args);
    return boot_start(c);
}

inline BootResult start_embedded(std::vector<std::string> args = {"zan"}) {
    BootConfig c;
    c.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    c.args = std::move(args);
    return boot_start(c);
}

// Evaluates and answers the molded result (or the formed error).
inline std::string ev(const std::string& src) { return boot_eval(src); }

// A source root in a fresh temporary folder: library/00-builtins.zan and
// library/01-core-values.zan of the tree, and the given module files
// (relative path -> text; a text without a header gets one).
class TempRoot {
public:
    explicit TempRoot(const std::vector<std::pair<std::string, std::string>>& modules,
                      bool core = true) {
        char tmpl[] = "/tmp/zan-boot-test-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        std::filesystem::create_directories(dir_ + "/library");
        std::string tree = source_root();
        std::filesystem::copy_file(tree + "/library/00-builtins.zan",
                                   dir_ + "/library/00-builtins.zan");
        if (core)
            std::filesystem::copy_file(tree + "/library/01-core-values.zan",
                                       dir_ + "/library/01-core-values.zan");
        for (auto& [path, text] : modules) write(path, text);
    }
    ~TempRoot() { std::filesystem::remove_all(dir_); }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    void write(const std::string& path, const std::string& text) {
        std::filesystem::path p = dir_ + "/" + path;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream f(p, std::ios::binary);
        if (text.rfind("Zan", 0) == 0) f << text;
        else f << "Zan [Title: \"test module\"]\n" << text;
    }
    // Writes the text as it is.
    void write_raw(const std::string& path, const std::string& text) {
        std::filesystem::path p = dir_ + "/" + path;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream f(p, std::ios::binary);
        f << text;
    }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

}  // namespace zan::boottest
