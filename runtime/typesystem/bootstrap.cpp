// A runtime start-up for tests and tools, in the order of the real one.
#include "runtime/typesystem/bootstrap.h"

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/cycles.h"
#include "runtime/core/externals.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/typesystem/init.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

void runtime_bootstrap_for_tests() {
    datatypes_state_reset();
    memory_free_all();
    memory_init();
    externals_init();
    gc_init();
    cycles_init();
    datatype_registry_reset();
    datatypes_init_all();
    node_frame_alloc(NODE_FRAME_CAPACITY);
    series_frame_alloc();
    root_block_create(ROOT_BLOCK_CELLS);
    stack_init();
    g_boot_flag = true;
    symbols_create(SYMBOL_TABLE_START);
    globals_create(GLOBAL_CONTEXT_START);
    case_folding_init();
    datatype_names_init();
    words_init();
    refinements_init();
    g_boot_flag = false;
    runtime_support_init();
    // In stress mode (ZAN_GC_STRESS=1) the runtime collects before every
    // allocation from here on, so every test runs against a moving heap.
    if (g_gc.stress) {
        g_gc.enabled = true;
        set_collect_stress(true);
    }
}

}  // namespace zan
