// handle!: a slot of the external-resource table tagged with the kind of
// resource it stands for; shown in hexadecimal and compared by slot.
#include <cstdio>
#include <cstring>

#include "runtime/core/externals.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/handle.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/string.h"

namespace zan {

namespace {
const char* const kKindNames[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
constexpr u32 kKindCount = sizeof kKindNames / sizeof kKindNames[0];
}  // namespace

const char* handle_kind_name(u32 kind) { return kind < kKindCount ? kKindNames[kind] : "null"; }

ValueCell* handle_make_at(ValueCell* cell, u32 value, u32 kind) {
    cell_init(cell, TYPE_HANDLE, kind, value, 0xFFFFFFFFu);
    return cell;
}

void* handle_address(const ValueCell* handle) {
    u32 slot = handle_get(handle);
    if (slot >= externals_capacity()) return nullptr;
    const ExternalSlot* s = externals_slot(static_cast<i32>(slot));
    if (!s || (s->kind & EXTERNAL_FREE)) return nullptr;
    return s->address;
}

namespace {
// "0000001Ah": eight upper-case hexadecimal digits and "h".
void handle_text(const ValueCell* value, char (&buf)[16]) {
    std::snprintf(buf, sizeof buf, "%08Xh", handle_get(value));
}
}  // namespace

i32 handle_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    char buf[16];
    handle_text(value, buf);
    string_append_cstr(out, buf);
    return limit - 9;
}

i32 handle_mold(ValueCell* value, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit,
                i32) {
    if (!all) {
        string_append_cstr(out, "handle!");
        return limit - 7;
    }
    char buf[16];
    handle_text(value, buf);
    char text[64];
    u32 kind = handle_kind(value);
    if (kind != HANDLE_NONE)
        std::snprintf(text, sizeof text, "#[handle! %s %s]", buf, handle_kind_name(kind));
    else
        std::snprintf(text, sizeof text, "#[handle! %s]", buf);
    string_append_cstr(out, text);
    return limit - static_cast<i32>(std::strlen(text));
}

i32 handle_compare(ValueCell* value1, ValueCell* value2, i32) {
    // Anything but a handle is simply different, also for the orderings.
    if (value2->type() != TYPE_HANDLE) return 1;
    i32 a = static_cast<i32>(handle_get(value1));
    i32 b = static_cast<i32>(handle_get(value2));
    return a < b ? -1 : a > b ? 1 : 0;
}

void handle_init() {
    ActionRow row;
    row.set<ACT_FORM>(handle_form).set<ACT_MOLD>(handle_mold).set<ACT_COMPARE>(handle_compare);
    datatype_register(TYPE_HANDLE, row);
}

}  // namespace zan
