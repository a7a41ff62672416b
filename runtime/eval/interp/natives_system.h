// The system natives (wait, now, set-env, get-env, list-env, call, browse,
// size?, to-local-file, recycle): the hook that wait calls after it slept.
#pragma once

namespace zan {

// One pass of the text-mode GUI's event loop, called by wait after its
// sleep; null while no GUI is active (installed by the GUI back end).
extern void (*g_wait_events_hook)();

}  // namespace zan
