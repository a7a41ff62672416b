// Start-up's record of the module files it ran, shared by start-up and the
// checks that look at which modules a start-up took.
#pragma once
#include <string>
#include <vector>

namespace zan {

// The module files run by the last start-up, in order (a start from the
// saved library takes the list that was saved with it).
extern std::vector<std::string> g_boot_module_names;

}  // namespace zan
