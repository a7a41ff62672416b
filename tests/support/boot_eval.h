// Test support: evaluates source text in an environment that boot_start
// has started, for the boot tests and the fuzz targets.
#pragma once
#include <string>

namespace zan {

// Evaluates source text under a try frame, on the evaluation thread;
// answers the molded result or the formed error (error, when given, says
// which). The data and call stacks are put back as they were.
std::string boot_eval(const std::string& source, bool* error = nullptr);

}  // namespace zan
