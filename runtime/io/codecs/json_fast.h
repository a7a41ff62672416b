// The fast paths of the JSON reader and writer.
#pragma once

namespace zan {

// json-fast-decode input [string!]: a block holding the value of the JSON
// text, or none when the text is left to the reader's grammar.
void json_routine_fast_decode();

// json-fast-encode data [any-type!] indent [string! none!] ascii [logic! none!]:
// the JSON text of data as to-json writes it, or none when the value holds
// anything but none, logic, integer, float, string, block and map values
// (keys words or strings) or nests deeper than the fast path goes.
void json_routine_fast_encode();

}  // namespace zan
