// The JSON reader and writer in C++, in front of the codec's grammar and
// writer functions in the language.
#pragma once

namespace zan {

// json-fast-decode input [string!]: a block holding the value of the JSON
// text, exactly as the reader's grammar gives it, or none when the grammar
// gives no value (the text is not JSON, a surrogate escape is broken, a
// number is one that load refuses, or the nesting is too deep for the
// grammar's rule stack).
void json_routine_fast_decode();

// json-fast-encode data [any-type!] indent [string! none!] ascii [logic! none!]:
// the JSON text of data as to-json writes it, or none when the value holds
// anything but none, logic, integer, float, string, block and map values
// (keys words or strings) or nests deeper than the fast path goes.
void json_routine_fast_encode();

}  // namespace zan
