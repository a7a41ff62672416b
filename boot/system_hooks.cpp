#include "boot/system_hooks.h"

#include "runtime/datatypes/error.h"
#include "runtime/typesystem/error_catalog.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

namespace {

const ValueCell* of_type(ValueCell* v, u32 type) { return v && v->type() == type ? v : nullptr; }

const ValueCell* stack_trace() { return system_setting({"state", "stack-trace"}); }
const ValueCell* source_files() { return system_setting({"state", "source-files"}); }
const ValueCell* exit_states() { return of_type(system_setting({"lexer", "exit-states"}), TYPE_BLOCK); }
const ValueCell* standard_port() {
    return of_type(system_setting({"standard", "port"}), TYPE_OBJECT);
}
const ValueCell* standard_url_parts() {
    return of_type(system_setting({"standard", "url-parts"}), TYPE_OBJECT);
}
const ValueCell* schemes() { return system_setting({"schemes"}); }

}  // namespace

void system_ready() {
    if (const ValueCell* errors = of_type(system_setting({"catalog", "errors"}), TYPE_OBJECT))
        error_catalog_install(errors);
    if (const ValueCell* proto = of_type(system_setting({"standard", "error"}), TYPE_OBJECT))
        error_set_prototype(proto);
    g_interp_hooks.state_stack_trace = stack_trace;
    g_interp_hooks.state_source_files = source_files;
    g_lexer_hooks.exit_states = exit_states;
    g_port_services.standard_port = standard_port;
    g_port_services.standard_url_parts = standard_url_parts;
    g_port_services.schemes = schemes;
}

}  // namespace zan
