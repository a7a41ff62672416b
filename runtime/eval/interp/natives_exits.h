// What compiled code needs of the exit natives.
#pragma once

namespace zan {

// The result of a compiled try after it caught an error (the error is the
// top value of the data stack): with keep the call stack is captured into
// it; an error whose type and id are both throw is raised again; any other
// becomes the frame's result (data top = base + 1).
void try_compiled_result(bool keep);

}  // namespace zan
