// Runtime initialisation: each step is the init routine of the module that
// owns the structure; this file fixes their order and the sizes passed.
#include "boot/runtime_init.h"
#include "runtime/io/host/simple_io.h"
#include "runtime/io/zanbin/zanbin.h"

#include "boot/routine_registry.h"
#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/cycles.h"
#include "runtime/core/externals.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/memory.h"
#include "runtime/core/platform.h"
#include "runtime/terminal/console_out.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/datatypes/error.h"
#include "runtime/typesystem/error_catalog.h"
#include "runtime/typesystem/init.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/datatypes/routine.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/digest/checksum.h"
#include "runtime/digest/random.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

namespace {
u32 checksum_word(const char* name) { return symbol_resolve(word_symbol(word_load(name))); }
}  // namespace

namespace {
// The ZANBIN codec reads a file! payload as binary through the host layer;
// URLs need HTTP, which is not built, so they are refused.
bool zanbin_read_source(const ValueCell* source, ValueCell* out) {
    if (source->type() != TYPE_FILE) return false;
    ValueCell* bytes = io_read(const_cast<ValueCell*>(source), nullptr, nullptr, true, false);
    *out = *bytes;
    return true;
}
}  // namespace

void runtime_init() {
    // A fresh runtime: whatever an earlier start-up in this process made is
    // forgotten first.
    g_gc.enabled = false;
    datatypes_state_reset();
    error_state_reset();
    error_catalog_reset();
    object_state_reset();
    ownership_state_reset();
    routine_table_reset();
    memory_free_all();

    g_boot_flag = true;
    print_hooks_init();
    platform_init();
    platform_console_init();
    random_init();
    memory_init();
    externals_init();
    cycles_init();
    // The datatype table, the action table and every datatype init in the
    // fixed order (each type after its parent), then the generic actions.
    datatype_registry_reset();
    datatypes_init_all();
    node_frame_alloc(NODE_FRAME_CAPACITY);
    series_frame_alloc();
    // The root block, then the data and call stacks inside it.
    root_block_create(ROOT_BLOCK_CELLS);
    stack_init();
    symbols_create(SYMBOL_TABLE_START);
    globals_create(GLOBAL_CONTEXT_START);
    case_folding_init();
    datatype_names_init();
    words_init();
    refinements_init();
    runtime_support_init();
    natives_init();
    ownership_init();
    checksum_init(checksum_word);
    boot_register_routines();
    lexer_init();
    g_zanbin_read_hook = zanbin_read_source;
    gc_init();
}

void runtime_init_after_decode() {
    interp_init();
    // Host operations that give up for a Ctrl-C hand it to the evaluator.
    g_interrupt_taker = interp_take_interrupt;
    // The collector runs from here on; words made from names no longer go
    // to the root block.
    g_gc.enabled = true;
    g_boot_flag = false;
}

}  // namespace zan
