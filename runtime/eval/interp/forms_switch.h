// The switch that turns the evaluator's fast paths off.
//
// With ZAN_FORMS=off in the environment at start-up, the walker evaluates
// everything: no frameless expression, direct call, pure function call,
// direct or pure loop round, kept paren form or path answered in place
// (eval_path_quick) is tried. Any other value,
// or none, leaves them on. The walker's behaviour is the reference each fast
// path must match, so running a program both ways checks the fast paths.
#pragma once

namespace zan {

// True when the fast paths are off (read once by interp_init, then only
// tested where each fast path is entered).
extern bool g_forms_off;

// Reads ZAN_FORMS from the environment into g_forms_off.
void forms_switch_read();

}  // namespace zan
