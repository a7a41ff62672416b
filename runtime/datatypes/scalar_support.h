// Helpers shared by the immediate scalar datatypes (time!, date!, money!,
// pair!, point2D!, point3D!, tuple!): the settings they read from the
// system object, the change report after a path sets a field of a value
// that lives inside an object or a block, and the explicit float-to-integer
// and float-to-float32 conversions.
#pragma once
#include <initializer_list>

#include "runtime/core/cell.h"

namespace zan {

// The value at system/<name>/<name>/..., or null when the system object
// (or any step of the path) is not there yet.
ValueCell* system_setting(std::initializer_list<const char*> names);

// After a set-path step stored a new value into parent (a cell held by
// holder), tells the holder's owner: an object! runs its on-change* with
// the holder item as the word, a block-like holder announces set-path to
// the owner of its series. Nothing happens without the notify flag.
void scalar_path_changed(ValueCell* holder, ValueCell* holder_item, const ValueCell* old_value,
                         ValueCell* parent, bool notify);

// The canonical symbol of a word cell (case folded), 0 for other cells.
u32 scalar_word_key(const ValueCell* cell);
// Whether a word cell names the well-known symbol (case-insensitively).
bool scalar_word_is(const ValueCell* cell, u32 symbol);

// Truncation toward zero of a float into 32 bits; NaN and values outside
// the range give `fallback`.
i32 float_to_i32_or(double d, i32 fallback);
// A double rounded to a 32-bit float (IEEE rounding; magnitudes past the
// largest float become infinities, NaN stays NaN).
float float_to_f32(double d);

}  // namespace zan
