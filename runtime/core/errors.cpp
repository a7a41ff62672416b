#include "runtime/core/errors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zan {

u32 g_throw_code = 0;
Err g_raw_error = Err::internal_not_done;

namespace {
ErrorRaiser g_raiser = nullptr;

struct IdName {
    Err id;
    const char* word;
};
constexpr IdName kIds[] = {
#define ZAN_X(code, cat, name, word) {Err::name, word},
    ZAN_ERROR_IDS(ZAN_X)
#undef ZAN_X
};
constexpr const char* kCategories[] = {
#define ZAN_X(idx, cat, word) word,
    ZAN_ERROR_CATEGORIES(ZAN_X)
#undef ZAN_X
};
}  // namespace

const char* err_id_name(Err e) {
    for (const auto& n : kIds)
        if (n.id == e) return n.word;
    return "?";
}

const char* err_category_name(u32 category) {
    return category < ERRCAT_COUNT ? kCategories[category] : "?";
}

void raise_code(u32 code) {
    g_throw_code = code;
    throw ThrowSignal{code};
}

void set_error_raiser(ErrorRaiser r) { g_raiser = r; }

void fire(Err id, const ValueCell* a1, const ValueCell* a2, const ValueCell* a3) {
    if (g_raiser) {
        g_raiser(id, a1, a2, a3);  // does not return
        std::abort();
    }
    g_raw_error = id;
    raise_code(THROW_ERROR);
}

void runtime_fatal(int number, const char* text) {
    std::fflush(stdout);
    std::fprintf(stderr, "\n*** Runtime Error %d: %s\n", number, text);
    std::fflush(stderr);
    std::_Exit(number > 0 && number < 256 ? number : 1);
}

}  // namespace zan
