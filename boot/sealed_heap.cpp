// The library saved after its modules and the seal, and put back.
//
// The words after the heap's own (boot/boot_heap.h): the first root value,
// the root value count, the process module's place, the modules run, the functions sealed, the object
// class counter, the tracer's place in the root block, whether the back end
// was started, the seal's words (library_seal_words), the module names
// (count, then each as its length and its bytes in words).
#include "boot/sealed_heap.h"

#include <cstring>

#include "boot/boot_heap.h"
#include "boot/library_code.h"
#include "boot/runtime_init.h"
#include "boot/system_hooks.h"
#include "gui/terminal/tui_bridge.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/runtime_support.h"

namespace zan {

namespace {

constexpr u64 kMagic = 0x314C4145534E415Aull;  // "ZANSEAL1"
constexpr size_t kFixedWords = 8;

BootHeapBefore g_before;
bool g_noted = false;
u64 g_tracer_tail = 0;

HeapRef root_tail() { return series_of(&g_root_block)->tail; }

void put_names(const std::vector<std::string>& names, std::vector<u64>* out) {
    out->push_back(names.size());
    for (const std::string& n : names) {
        out->push_back(n.size());
        for (size_t i = 0; i < n.size(); i += 8) {
            u64 w = 0;
            std::memcpy(&w, n.data() + i, std::min<size_t>(8, n.size() - i));
            out->push_back(w);
        }
    }
}

bool read_names(std::span<const u64> w, std::vector<std::string>* names) {
    if (w.empty()) return false;
    u64 count = w[0];
    size_t at = 1;
    names->clear();
    for (u64 k = 0; k < count; k++) {
        if (at >= w.size() || w[at] > (w.size() - at - 1) * 8) return false;
        size_t len = w[at++];
        std::string n(len, '\0');
        for (size_t i = 0; i < len; i += 8, at++)
            std::memcpy(n.data() + i, &w[at], std::min<size_t>(8, len - i));
        names->push_back(std::move(n));
    }
    return at == w.size();
}

}  // namespace

void sealed_heap_note_before() {
    boot_heap_before(&g_before);
    g_noted = true;
}

void sealed_heap_note_tracer() { g_tracer_tail = root_tail(); }

bool sealed_heap_capture(const SealedStart& now, std::vector<u8>* out, std::string* error) {
    out->clear();
    if (!g_noted || !g_tracer_tail) {
        *error = "the state before the decoding was not noted";
        return false;
    }
    if (!boot_heap_savable(g_before)) {
        *error = "the modules released pages, made fixed buffers or moved the stacks";
        return false;
    }
    std::vector<u64> more = {g_boot_cells_first,     now.values,    now.process, now.modules,
                             now.sealed,             g_object_class_counter, g_tracer_tail,
                             gui::tui_back_end_attached() ? 1u : 0u};
    library_seal_words(&more);
    put_names(now.module_names, &more);
    boot_heap_write(kMagic, g_before, more, out);
    return true;
}

bool sealed_heap_restore(std::span<const u8> saved, SealedStart* out) {
    BootHeapSaved s;
    if (!boot_heap_read(saved, kMagic, &s) || s.after.size() < kBootHeapWords + kFixedWords)
        return false;
    std::span<const u64> w(s.after.data() + kBootHeapWords, s.after.size() - kBootHeapWords);
    SealedStart start;
    start.values = static_cast<u32>(w[1]);
    start.process = static_cast<u32>(w[2]);
    start.modules = static_cast<u32>(w[3]);
    start.sealed = static_cast<u32>(w[4]);
    // The tracer's cell goes where the ordinary start put it: the root
    // block is a fixed buffer, its tail only grows.
    SeriesBuffer* root = series_of(&g_root_block);
    u64 tracer = w[6];
    if (tracer < root->tail || (tracer - root->tail) % sizeof(ValueCell) ||
        tracer + sizeof(ValueCell) > root->end_ref())
        return false;
    // The seal's words are read into a trial first: nothing changes before
    // the whole form is known to be well made.
    std::span<const u64> rest = w.subspan(kFixedWords);
    if (rest.size() < 4 || rest[3] > rest.size() - 4) return false;
    size_t seal_words = 4 + rest[3];
    if (!read_names(rest.subspan(seal_words), &start.module_names)) return false;
    if (!boot_heap_extend(s)) return false;

    root->tail = static_cast<HeapRef>(tracer);
    runtime_init_after_decode();
    boot_heap_put(s);
    g_boot_cells_first = static_cast<u32>(w[0]);
    g_object_class_counter = static_cast<u32>(w[5]);
    library_seal_read(rest.first(seal_words));
    system_ready();
    if (w[7]) gui::tui_back_end_attach();
    *out = std::move(start);
    return true;
}

}  // namespace zan
