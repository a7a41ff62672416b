// The image codec libraries are loaded with dlopen on their first use, so
// that start-up does not pay for loading them and everything they link.
//
// A codec file lists the library functions it calls and declares, inside
// its own namespace, a pointer of the same name and type for each
// (ZAN_CODEC_LIBRARY); its calls, written as plain calls, then go through
// the pointers, and the library's symbols are never linked. The loader
// function it declares binds them all on its first call and answers
// whether the library and every function were found.
#pragma once
#include "runtime/core/shared_library.h"

#define ZAN_CODEC_POINTER(f) decltype(&::f) f = nullptr;
#define ZAN_CODEC_BIND(f) found = zan::shared_library_bind(so, #f, f) && found;

#define ZAN_CODEC_LIBRARY(loader, soname, LIST)                                      \
    LIST(ZAN_CODEC_POINTER)                                                          \
    bool loader() {                                                                  \
        struct Loaded {};                                                            \
        return zan::shared_library_once<Loaded>(soname, [](void* so, Loaded&) {      \
                   bool found = true;                                                \
                   LIST(ZAN_CODEC_BIND)                                              \
                   return found;                                                     \
               }) != nullptr;                                                        \
    }
