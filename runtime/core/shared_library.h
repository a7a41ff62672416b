// Shared libraries loaded when first needed, so that a program that never
// uses them does not pay for loading them (and everything they link) at
// start-up.
#pragma once
#include <dlfcn.h>

namespace zan {

// The library of that name (an soname), loaded once; null when it cannot
// be loaded.
inline void* shared_library_open(const char* soname) {
    return dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

// Points slot at the function of that name in lib; false when it is missing.
template <class Fn>
bool shared_library_bind(void* lib, const char* name, Fn*& slot) {
    void* p = dlsym(lib, name);
    slot = reinterpret_cast<Fn*>(p);
    return p != nullptr;
}

}  // namespace zan
