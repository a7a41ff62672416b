// Runs a fuzz target's entry point once on each file named, or on every file
// of each folder named: the committed corpus and the inputs that once made a
// target fail, as an ordinary test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run_file(const std::filesystem::path& p, int& count) {
    std::ifstream f(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", p.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    count++;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path p = argv[i];
        if (std::filesystem::is_directory(p)) {
            std::vector<std::filesystem::path> files;
            for (const auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) run_file(f, count);
        } else if (std::filesystem::exists(p)) {
            run_file(p, count);
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "no inputs\n");
        return 2;
    }
    std::printf("%d inputs ran\n", count);
    return 0;
}
