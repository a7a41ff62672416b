// The boot image embedded in the executable (generated at build time from
// the module files by zan-boot-image; see docs/boot.md), and its decoded
// form.
#pragma once
#include <cstddef>

namespace zan {

extern const unsigned char zan_boot_image_data[];
extern const std::size_t zan_boot_image_size;
// The same image as decoded at build time (boot/boot_heap.h).
extern const unsigned char* const zan_boot_heap_data;
extern const std::size_t zan_boot_heap_size;
// The library saved after its modules and the seal (boot/sealed_heap.h),
// made by a first link of zan; not part of zan_boot_image.
extern const unsigned char* const zan_sealed_heap_data;
extern const std::size_t zan_sealed_heap_size;

}  // namespace zan
