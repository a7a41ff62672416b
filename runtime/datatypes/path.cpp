// The path types: path!, lit-path!, set-path! and get-path!. Blocks whose
// text forms join the elements with "/".
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"

#include "runtime/core/cycles.h"

namespace zan {

namespace {

// The cells joined with "/", each formed or molded.
i32 path_text(ValueCell* path, ValueCell* out, bool mold, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent) {
    if (cycles_detect(path, out, &limit, mold)) return limit;
    CycleScope scope;
    cycles_push(block_node(path));
    i32 n = block_length(path);
    i32 start = series_index(path) < 0 ? 0 : series_index(path);
    for (i32 i = 0; i < n; i++) {
        if (arg_limit && limit <= 0) break;
        if (i >= block_length(path)) break;
        if (i > 0) {
            string_append_char(out, '/');
            limit--;
            if (arg_limit && limit <= 0) break;
        }
        ValueCell* c = stack_push(block_cell_at(path, static_cast<u32>(start + i)));
        if (mold) limit = action_mold_dispatch(c, out, false, all, flat, arg_limit, limit, indent);
        else limit = action_form_dispatch(c, out, arg_limit, limit);
        stack_pop(1);
    }
    return limit;
}
}  // namespace

ValueCell* path_make(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (type_block_like(st)) return block_to(proto, spec, type);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT || st == TYPE_PERCENT) return block_make_sized(spec, type);
    ValueCell* dt = datatype_push(type);
    fire(Err::script_bad_make_arg, dt, spec);
}

ValueCell* path_to(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (st == TYPE_OBJECT || st == TYPE_TYPESET || st == TYPE_MAP) {
        ValueCell v = *spec;
        ValueCell* out = block_push_new(1);
        block_append_cell(out, &v);
        out->header = type;
        return out;
    }
    ValueCell* r = block_to(proto, spec, type);
    r->set_type(type);
    return r;
}

i32 path_form(ValueCell* path, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    return path_text(path, out, false, false, false, arg_limit, limit, 0);
}

i32 path_mold(ValueCell* path, ValueCell* out, bool, bool all, bool flat, ValueCell* arg_limit,
              i32 limit, i32 indent) {
    return path_text(path, out, true, all, flat, arg_limit, limit, indent);
}

i32 lit_path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent) {
    string_append_char(out, '\'');
    return path_mold(path, out, only, all, flat, arg_limit, limit - 1, indent);
}

i32 get_path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent) {
    string_append_char(out, ':');
    return path_mold(path, out, only, all, flat, arg_limit, limit - 1, indent);
}

i32 set_path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent) {
    limit = path_mold(path, out, only, all, flat, arg_limit, limit, indent);
    string_append_char(out, ':');
    return limit - 1;
}

ValueCell* path_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                     ValueCell* types) {
    return block_copy(value, fresh, part, deep, types);
}

void path_init() {
    ActionRow row;
    row.set<ACT_MAKE>(path_make)
        .set<ACT_TO>(path_to)
        .set<ACT_FORM>(path_form)
        .set<ACT_MOLD>(path_mold)
        .set<ACT_COPY>(path_copy)
        .inherit({ACT_REFLECT, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_INSERT, ACT_AT,
                  ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q,
                  ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_PUT, ACT_REMOVE,
                  ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE,
                  ACT_MODIFY});
    datatype_register(TYPE_PATH, row);
}

namespace {
void register_path_child(u32 type, MoldFn mold) {
    ActionRow row;
    row.set<ACT_MOLD>(mold).inherit_all();
    datatype_register(type, row);
}
}  // namespace

void lit_path_init() { register_path_child(TYPE_LIT_PATH, lit_path_mold); }
void set_path_init() { register_path_child(TYPE_SET_PATH, set_path_mold); }
void get_path_init() { register_path_child(TYPE_GET_PATH, get_path_mold); }

}  // namespace zan
