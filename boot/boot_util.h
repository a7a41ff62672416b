// Small helpers of the start-up code: text of values, and running C++ code
// that may raise a language error under a try frame.
#pragma once
#include <string>

#include "runtime/core/cell.h"
#include "runtime/core/errors.h"

namespace zan {

// The formed (or molded) text of a value as UTF-8.
std::string boot_form(const ValueCell* value);
std::string boot_mold(const ValueCell* value);

// Runs fn inside a try frame. A language error (or any other exit) that
// reaches the frame is turned into a message and answered false; the data
// and call stacks are put back as they were.
bool boot_guarded(void (*fn)(void*), void* arg, std::string* error);
template <class F>
bool boot_guarded(F&& f, std::string* error) {
    return boot_guarded([](void* p) { (*static_cast<F*>(p))(); }, static_cast<void*>(&f), error);
}

// The bytes of a file; false when it cannot be read.
bool boot_read_file(const std::string& path, std::string* out);

// The text of an error that nothing caught: the formed error! value when
// one was raised, else the category and id of the raw error.
std::string boot_error_text(const ValueCell* error_or_null);

}  // namespace zan
