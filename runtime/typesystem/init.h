// Start-up of the datatype layer.
#pragma once

namespace zan {

// Runs every datatype init in the fixed start-up order (datatype! first),
// then fills the generic action table.
void datatypes_init_all();

}  // namespace zan
