// Registration of every C++ routine entry in the routine table, by name,
// before the boot image is decoded. A subsystem with routines of its own
// adds one call to boot_register_routines (routine_registry.cpp).
#pragma once

namespace zan {

void boot_register_routines();
// The routines of the start-up code itself (routines_boot.cpp).
void boot_routines_register();

}  // namespace zan
