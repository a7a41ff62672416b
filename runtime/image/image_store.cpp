#include "runtime/image/image_store.h"

#include <cstdlib>
#include <unordered_set>

#include "runtime/core/errors.h"
#include "runtime/core/externals.h"

namespace zan {

namespace {
u32 g_image_kind = 0;
// Every record alive, so that a new start of the runtime (which starts a
// new external-resource table) can free those of the old one.
std::unordered_set<ImagePixels*> g_live;

void release_image(void* address) {
    auto* rec = static_cast<ImagePixels*>(address);
    if (!rec) return;
    g_live.erase(rec);
    std::free(rec->words);
    delete rec;
}
}  // namespace

void image_store_init() {
    for (ImagePixels* rec : g_live) {
        std::free(rec->words);
        delete rec;
    }
    g_live.clear();
    // The kind word spells "imag" so that a dump of the table reads well.
    g_image_kind = externals_register_kind(0x67616D69u, release_image);
}

u32* image_words_alloc(u32 width, u32 height, bool zeroed) {
    u64 n = u64(width) * height;
    if (n == 0 || n > IMAGE_MAX_PIXELS) return nullptr;
    return static_cast<u32*>(zeroed ? std::calloc(n, 4) : std::malloc(n * 4));
}

void image_words_free(u32* words) { std::free(words); }

u32 image_store_adopt(u32 width, u32 height, u32* words) {
    auto* rec = new ImagePixels{width, height, words};
    g_live.insert(rec);
    return static_cast<u32>(externals_store(rec, g_image_kind));
}

u32 image_store_new(u32 width, u32 height, u32 fill) {
    u32* words = image_words_alloc(width, height);
    if (!words) fire(Err::internal_no_memory);
    u64 n = u64(width) * height;
    for (u64 i = 0; i < n; i++) words[i] = fill;
    return image_store_adopt(width, height, words);
}

ImagePixels* image_store_get(u32 slot) {
    if (slot == IMAGE_NO_SLOT || slot >= externals_capacity()) return nullptr;
    const ExternalSlot* s = externals_slot(static_cast<i32>(slot));
    if ((s->kind & EXTERNAL_FREE) || (s->kind & 0xFFu) != g_image_kind) return nullptr;
    return static_cast<ImagePixels*>(s->address);
}

}  // namespace zan
