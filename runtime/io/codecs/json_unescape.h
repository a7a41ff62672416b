// The escape decoder of the JSON reader, a routine of the JSON codec.
#pragma once

namespace zan {

// unescape str [string!]: decodes the JSON escapes of str in place and
// returns it. A short or non-hexadecimal \u escape, a lone surrogate or a
// broken surrogate pair raises script invalid-data with the string.
void json_routine_unescape();

}  // namespace zan
