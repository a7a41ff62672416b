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

// The functions of soname, loaded and bound by bind(so, lib) (true when all
// were found) on the first call; every later call gives the same answer,
// null when the library or one of its functions is missing.
template <class Lib, class Bind>
const Lib* shared_library_once(const char* soname, Bind bind) {
    static Lib lib;
    static int state = 0;  // 0 not tried, 1 loaded, -1 unavailable
    if (state) return state > 0 ? &lib : nullptr;
    state = -1;
    void* so = shared_library_open(soname);
    if (!so || !bind(so, lib)) return nullptr;
    state = 1;
    return &lib;
}

}  // namespace zan
