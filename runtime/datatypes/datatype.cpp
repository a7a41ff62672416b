// The datatype registry (names and action rows) and datatype! itself.
#include "runtime/datatypes/datatype.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"

namespace zan {

ActionEntry g_action_table[TYPE_TABLE_SIZE * ACTION_ROW_STRIDE];
TypeName g_type_names[TYPE_TABLE_SIZE];
u32 g_highest_type = 0;

namespace {
// Set once datatype_names_init has run: later registrations make their
// name's word at once.
bool g_names_ready = false;

[[noreturn]] void registration_fault(const char* what, u32 type) {
    std::fflush(stdout);
    std::fprintf(stderr, "*** Datatype Error: %s: %u\n", what, type);
    std::fflush(stderr);
    std::exit(1);
}
}  // namespace

void datatype_register(u32 type, const ActionRow& row) {
    if (type == 0 || type > TYPE_LAST) registration_fault("invalid type id", type);
    const char* name = type_name_of(type);
    u32 parent = type_decl(type).parent;
    if (parent != 0 && !g_type_names[parent].name)
        registration_fault("parent not registered for type", type);
    if (type > g_highest_type) g_highest_type = type;
    TypeName& tn = g_type_names[type];
    tn.name = name;
    tn.length = static_cast<i32>(std::strlen(name)) - 1;
    cell_init(&tn.word, TYPE_UNSET);
    if (g_names_ready) tn.word = *word_load(name);
    ActionEntry* own = &g_action_table[type * ACTION_ROW_STRIDE];
    const ActionEntry* up = &g_action_table[parent * ACTION_ROW_STRIDE];
    tn.own_actions = 0;
    for (u32 n = 0; n < ACT_COUNT; n++) {
        ActionEntry e = row.entries[n];
        if (e == INHERIT) {
            own[n] = parent ? up[n] : nullptr;
        } else {
            own[n] = e;
            if (e) tn.own_actions |= u64(1) << n;
        }
    }
}

void datatype_registry_reset() {
    // The table starts zeroed: clearing it in a fresh process would only
    // make the system hand out its pages (most rows stay empty).
    static bool used = false;
    if (used) std::memset(g_action_table, 0, sizeof g_action_table);
    used = true;
    for (auto& tn : g_type_names) {
        tn.name = nullptr;
        tn.length = 0;
        tn.own_actions = 0;
        cell_init(&tn.word, TYPE_UNSET);
    }
    g_highest_type = 0;
    g_names_ready = false;
}

const char* datatype_name(u32 type) {
    return type < TYPE_TABLE_SIZE && g_type_names[type].name ? g_type_names[type].name : "?";
}

void datatype_names_init() {
    for (u32 t = 1; t <= g_highest_type; t++)
        if (g_type_names[t].name) g_type_names[t].word = *word_load(g_type_names[t].name);
    g_names_ready = true;
}

ValueCell* datatype_push(u32 type) { return datatype_box(stack_push_cell(), type); }

ValueCell* datatype_make_in(ValueCell* block, u32 type) {
    return datatype_box(block_alloc_tail(block), type);
}

i32 datatype_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    const TypeName& tn = g_type_names[datatype_get(value) < TYPE_TABLE_SIZE ? datatype_get(value) : 0];
    if (!tn.name) return limit;
    string_append_bytes(out, tn.name, static_cast<u32>(tn.length));
    return limit - tn.length;
}

i32 datatype_mold(ValueCell* value, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit,
                  i32) {
    const TypeName& tn = g_type_names[datatype_get(value) < TYPE_TABLE_SIZE ? datatype_get(value) : 0];
    if (!tn.name) return limit;
    if (all) string_append_cstr(out, "#(");
    string_append_cstr(out, tn.name);
    if (all) string_append_cstr(out, ")");
    return limit - (tn.length + 1) - (all ? 3 : 0);
}

i32 datatype_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
            return value2->type() == TYPE_DATATYPE && datatype_get(value2) == datatype_get(value1) ? 0 : 1;
        default:
            return CMP_NOT_COMPARABLE;
    }
}

void datatype_init() {
    ActionRow row;
    row.set<ACT_FORM>(datatype_form).set<ACT_MOLD>(datatype_mold).set<ACT_COMPARE>(datatype_compare);
    datatype_register(TYPE_DATATYPE, row);
}

}  // namespace zan
