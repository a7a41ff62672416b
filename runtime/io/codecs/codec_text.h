// Text helpers shared by the codecs' native paths.
#pragma once

#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// Pushes a new string! of the code points (every one kept as it is, a
// leading U+FEFF included).
ValueCell* codec_push_text(const std::vector<u32>& code_points);

// Appends the characters of a string! from its index to out.
void codec_read_text(const ValueCell* string, std::vector<u32>& out);

}  // namespace zan
