// The boot image: the module files of the start-up code turned into one
// ZANBIN image (compact layout, symbol table, not compressed).
//
// Layout of the image:
//   - the built-in bindings, which leave no root value: the natives (their
//     specs from the natives table), the actions and the typesets declared
//     in library/00-builtins.zan, and the datatype words;
//   - then, per module file in order, two root values: the file's path
//     relative to the source root (a string!, "library/05-system.zan") and
//     its code (a block!, the file's values after the header).
//
// The same builder serves the build-time tool (zan-boot-image) and the
// developer switch ZAN_LIBRARY_DIR, which builds the image from the source
// files at start-up. It runs in an initialised runtime (runtime_init).
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// The image version byte: 1 in the embedded boot image.
constexpr u8 BOOT_IMAGE_VERSION = 1;

struct BootSourceFile {
    std::string relative;  // "library/05-system.zan"
    std::string path;      // the full path
    int module = 0;        // the two-digit number of the file name
};

// The module files under root (library/, gui/, console/), in start-up order
// (by file name). The built-in words file (00-) comes first. False with a
// message for a duplicate file name or a folder that cannot be read.
bool boot_list_sources(const std::string& root, std::vector<BootSourceFile>* files,
                       std::string* error);

// Builds the image from the files. False with a message naming the file
// (and the error, with its line for a syntax error) when a file cannot be
// read, lacks its header or fails to load, or when the built-in words file
// holds an entry it does not understand.
bool boot_build_image(const std::vector<BootSourceFile>& files, std::vector<u8>* image,
                      std::string* error);

// The module number of a root file name ("05-system.zan" gives 5), -1 when
// the name does not start with two digits and "-".
int boot_module_number(const std::string& file_name);

}  // namespace zan
