// Raising language errors and the control transfers of non-local exits.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/error_ids.def"

namespace zan {

// Every catalogued error, valued by its code.
enum class Err : u32 {
#define ZAN_X(code, cat, name, word) name = code,
    ZAN_ERROR_IDS(ZAN_X)
#undef ZAN_X
};

enum ErrorCategory : u32 {
#define ZAN_X(idx, cat, word) ERRCAT_##cat = idx,
    ZAN_ERROR_CATEGORIES(ZAN_X)
#undef ZAN_X
    ERRCAT_COUNT
};

inline u32 err_category(Err e) { return static_cast<u32>(e) / 100; }
inline u32 err_index(Err e) { return static_cast<u32>(e) % 100; }
// The catalogue's word for an id ("expect-arg") and for a category ("script").
const char* err_id_name(Err e);
const char* err_category_name(u32 category);

// Throw codes: a handler accepts every code up to a limit of its own.
constexpr u32 THROW_SYSTEM_LOW = 0x7FFFFFF6u;   // faults of the platform layer
constexpr u32 THROW_SYSTEM_HIGH = 0x7FFFFFF8u;
constexpr u32 THROW_THROW = 0x7FFFFFFAu;
constexpr u32 THROW_EXIT = 0x7FFFFFFBu;
constexpr u32 THROW_RETURN = 0x7FFFFFFCu;
constexpr u32 THROW_CONTINUE = 0x7FFFFFFDu;
constexpr u32 THROW_BREAK = 0x7FFFFFFEu;
constexpr u32 THROW_ERROR = 0x7FFFFFFFu;

// The C++ exception that carries a throw code to the innermost handler.
// The stacks have been unwound before it is thrown; a handler reads the
// result cell. Catch it by reference and rethrow what you do not accept.
struct ThrowSignal {
    u32 code;
};

// The run-time record's pending throw code (0 when none).
extern u32 g_throw_code;

// Throws the ThrowSignal of a code (the stacks already unwound).
[[noreturn]] void raise_code(u32 code);

// Raises a language error: the category and id of the catalogue and up to
// three argument values (null for absent ones). Never returns.
[[noreturn]] void fire(Err id, const ValueCell* arg1 = nullptr,
                       const ValueCell* arg2 = nullptr,
                       const ValueCell* arg3 = nullptr);

// The datatype layer installs the raiser that builds the error! value and
// unwinds to the nearest try frame. Until one is installed, fire records the
// id in g_raw_error and raises THROW_ERROR directly.
using ErrorRaiser = void (*)(Err id, const ValueCell* a1, const ValueCell* a2,
                             const ValueCell* a3);
void set_error_raiser(ErrorRaiser r);
extern Err g_raw_error;

// A fault below the language: prints "*** Runtime Error" with the number and
// text and ends the process with a non-zero status.
[[noreturn]] void runtime_fatal(int number, const char* text);

}  // namespace zan
