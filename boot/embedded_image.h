// The boot image embedded in the executable (generated at build time from
// the module files by zan-boot-image; see docs/boot.md).
#pragma once
#include <cstddef>

namespace zan {

extern const unsigned char zan_boot_image_data[];
extern const std::size_t zan_boot_image_size;

}  // namespace zan
