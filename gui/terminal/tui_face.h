// Reading a face object from the back end: its fields by name, words,
// texts as UTF-8 and colours. Nothing here allocates Zan values.
#pragma once
#include <string>

#include "runtime/core/cell.h"

namespace zan::gui {

// The value cell of an object's field, or null when it has none.
ValueCell* field_of(const ValueCell* obj, const char* name);
// Whether v is a word (or lit-word) spelled name.
bool word_is(const ValueCell* v, const char* name);
// The characters of a string! from its index, as UTF-8.
std::string string_utf8(const ValueCell* s);
// Item i (from 0) of a block from its index; i below block_length.
ValueCell* block_item(const ValueCell* block, i32 i);
// The characters of a string! from its index, as code points.
std::u32string string_code_points(const ValueCell* s);
// The colour word of a tuple! (the 256-colour conversion), or the default
// colour for anything else.
u32 tuple_color(const ValueCell* v);

}  // namespace zan::gui
