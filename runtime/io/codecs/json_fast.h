// The fast path of the JSON reader.
#pragma once

namespace zan {

// json-fast-decode input [string!]: a block holding the value of the JSON
// text, or none when the text is left to the reader's grammar.
void json_routine_fast_decode();

}  // namespace zan
