// The fast path of the CSV writer.
#pragma once

namespace zan {

// csv-fast-encode rows [block!] delimiter [char! string!] quote [char!]: the
// text that to-csv writes for a block of rows, or none when a row is not a
// block, the rows differ in length, or a value is neither a string nor an
// integer.
void csv_routine_fast_encode();

}  // namespace zan
