// The library saved after its modules and the seal.
//
// Everything start-up does up to the seal depends only on the build: the
// modules before the process module read nothing from the process
// (library/99-process.zan makes those values after the seal), and the heap
// then holds no C++ address. The build therefore runs start-up once up to
// the seal (a first link of zan, asked through ZAN_SAVE_LIBRARY) and saves,
// as the decoded image is saved (boot/boot_heap.h), every heap page changed
// since the state before the decoding, with the C++ state the modules and
// the seal leave: the memory manager's words, the region's bump and commit
// count, the first root value, the object class counter, the seal's root,
// snapshot context and index, the module names, and whether the text back
// end was started.
//
// At start-up, when the state before the decoding is the very one the build
// saw, the pages are put in place instead of decoding and running the
// modules, and what holds addresses of this process is made again: the
// evaluator's state (runtime_init_after_decode), the error catalogue,
// prototype and system hooks (system_ready), the back end's colour mode and
// wait hook. What starts empty is scratch (bind memo, cycle stack, lookup
// buffers, parse keyword caches). Then the process module and the launch
// run as on every start.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// In a run asked to save: the state before the decoding; then the root
// block's tail just before runtime_init_after_decode (where it puts the
// tracer's cell).
void sealed_heap_note_before();
void sealed_heap_note_tracer();

// What start-up knows at the seal besides the runtime's state.
struct SealedStart {
    u32 values = 0;   // root values of the image
    u32 process = 0;  // the root value of the process module's path
    u32 modules = 0;  // modules run before the seal
    u32 sealed = 0;   // library functions sealed
    std::vector<std::string> module_names;
};

// Right after the seal of that run: the saved form in *out. False with a
// message when what the modules did cannot be saved.
bool sealed_heap_capture(const SealedStart& now, std::vector<u8>* out, std::string* error);

// In a runtime just prepared by boot_prepare_runtime: puts the saved form
// in place and makes again the state it cannot carry, leaving the runtime
// as the ordinary start leaves it right after the seal. False, with nothing
// changed, when the form is malformed or the runtime's state before the
// decoding differs from the one it was saved from.
bool sealed_heap_restore(std::span<const u8> saved, SealedStart* out);

}  // namespace zan
