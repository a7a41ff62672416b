// The fast paths of the CSV reader and writer.
#pragma once

namespace zan {

// csv-fast-encode rows [block!] delimiter [char! string!] quote [char!]: the
// text that to-csv writes for a block of rows, or none when a row is not a
// block, the rows differ in length, or a value is neither a string nor an
// integer.
void csv_routine_fast_encode();

// csv-fast-decode data [string!] delimiter [char! string!] quote [char!]: the
// block of rows that load-csv gives for data without refinements, or none
// when the text is left to the reader's grammar (text the grammar cannot
// follow, rows of unequal length, a delimiter holding a line end or the
// quote character).
void csv_routine_fast_decode();

}  // namespace zan
