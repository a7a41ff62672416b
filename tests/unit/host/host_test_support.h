// Fixture of the host I/O tests: a fresh runtime and a temporary directory
// per test (removed afterwards), raw file helpers that bypass the layer
// under test, and file! values for paths in the directory.
#pragma once
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "datatypes/dt_test_support.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/typesystem/host_io.h"
#include "runtime/datatypes/integer.h"
#include "runtime/io/host/simple_io.h"

namespace zan::test {

class HostTest : public DtTest {
protected:
    void SetUp() override {
        DtTest::SetUp();
        char tmpl[] = "/tmp/zan-host-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        remove_tree(dir_);
        DtTest::TearDown();
    }

    static void remove_tree(const std::string& path) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode)) {
            if (DIR* d = opendir(path.c_str())) {
                while (dirent* e = readdir(d)) {
                    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
                    remove_tree(path + "/" + e->d_name);
                }
                closedir(d);
            }
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }

    // A path inside the temporary directory.
    std::string at(const std::string& name) const { return dir_ + "/" + name; }

    static void put_bytes(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    static std::string get_bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static bool exists(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    static std::string cwd() {
        char* p = getcwd(nullptr, 0);
        std::string s = p ? p : "";
        std::free(p);
        return s;
    }

    // A file! value (pushed) for a local path.
    static ValueCell* file(const std::string& path) {
        return file_load(reinterpret_cast<const u8*>(path.data()), static_cast<u32>(path.size()));
    }
    static ValueCell integer_cell(i32 v) { return integer(v); }

    // The bytes of a binary! from its index.
    static std::string bytes_of(const ValueCell* b) {
        ValueCell c = *b;
        i32 n = binary_length(&c);
        return std::string(reinterpret_cast<const char*>(binary_head_ptr(&c)),
                           static_cast<size_t>(n));
    }

    std::string dir_;
};

}  // namespace zan::test
