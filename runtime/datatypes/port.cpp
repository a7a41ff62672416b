// port!: making a port from its scheme, and handing every series and I/O
// action to the port's actor.
#include "runtime/datatypes/port.h"

#include <cstring>

#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

PortServices g_port_services{};

namespace {

inline bool object_like(u32 t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

// The word of an action, bound in the global context.
ValueCell action_word(u32 action, const char* fallback) {
    ValueCell w;
    const char* name = action >= ACT_APPEND && action <= ACT_COUNT ? ACTION_NAMES[action - 1]
                                                                   : fallback;
    word_make_at(symbol_make(name), &w);
    return w;
}

// The word of a well-known name (made on first use when start-up has not
// made the well-known words).
ValueCell known_word(ValueCell* const* slot, const char* name) {
    if (*slot) return **slot;
    ValueCell w;
    word_make_at(symbol_make(name), &w);
    return w;
}

[[noreturn]] void not_done() { fire(Err::internal_not_done); }

// The arguments handed to an actor after the port.
struct ActorArgs {
    ValueCell cells[20];
    u32 n = 0;
    void value(const ValueCell* v) {
        cells[n] = v ? *v : g_none_cell;
        cells[n].header &= ~CELL_NEW_LINE;
        n++;
    }
    void flag(bool on) { logic_box(&cells[n++], on); }
    // A refinement with one argument: its logic!, then the argument or none.
    void refinement(const ValueCell* arg) {
        flag(arg != nullptr);
        value(arg);
    }
    // A refinement whose argument is a count, given when given is true.
    void count(bool given, i32 n_) {
        flag(given);
        if (given) integer_box(&cells[n++], n_);
        else value(nullptr);
    }
};

// Opens a function frame named after the action, pushes the port and the
// arguments, and calls the actor; the result is the caller's top cell.
ValueCell* forward(const ValueCell& word, const ValueCell* port, const ActorArgs& args) {
    ValueCell p = *port;
    ValueCell* held = stack_push(&p);
    ValueCell actor = *port_get_actor(held);
    g_stack.top = held;
    ValueCell w = word;
    stack_mark_func(&w, 0);
    stack_push(&p);
    for (u32 i = 0; i < args.n; i++) stack_push(&args.cells[i]);
    return port_call_actor(&actor, &w);
}

ValueCell* forward(const ValueCell& word, const ValueCell* port) {
    return forward(word, port, ActorArgs{});
}

// Makes the actor's result the result cell of the current frame.
void write_result(ValueCell* r) {
    ValueCell res = *r;
    g_stack.top = r;
    *stack_result() = res;
}

// Drops the actor's result and answers a copy of it.
ValueCell take_result(ValueCell* r) {
    ValueCell res = *r;
    g_stack.top = r;
    return res;
}

}  // namespace

// ---- services ------------------------------------------------------------------------------------

ValueCell* port_get_actor(ValueCell* port) {
    if (object_word_count(port) <= PORT_FIELD_ACTOR) fire(Err::access_invalid_port);
    ValueCell* actor = object_values(port) + PORT_FIELD_ACTOR;
    if (actor->type() != TYPE_OBJECT) fire(Err::access_invalid_port);
    return actor;
}

ValueCell* port_call_actor(ValueCell* actor, ValueCell* word) {
    ValueCell a = *actor;
    ValueCell w = *word;
    ValueCell fn = *object_select_word(&a, &w);
    if (fn.type() != TYPE_FUNCTION) fire(Err::access_no_port_action, &w);
    // The frame was opened before the function was known: it now records
    // the function's context, as a frame opened for it would.
    CallFrame* frame = stack_top_frame();
    frame->func_ctx = context_of(&fn);
    frame->saved_values = context_values(context_cell(context_of(&fn)));
    i32 locals = function_refinement_arity(callable_spec(&fn), 0, false);
    if (locals > 0) function_push_unused_refinement(locals);
    g_interp_hooks.call_function(&fn, context_of(&a), &w, CALLBACK_PORT_ACTOR);
    stack_unwind_func();
    return g_stack.top - 1;
}

void port_forward_action(ValueCell* word, i32 n) {
    ValueCell port = *stack_arg(0);
    ActorArgs args;
    if (n == 2) args.value(stack_arg(1));
    write_result(forward(*word, &port, args));
}

ActionEntry port_action_entry(const ValueCell* port, u32 action) {
    if (action < ACT_APPEND || action > ACT_COUNT) return nullptr;
    if (object_word_count(port) <= PORT_FIELD_ACTOR) return nullptr;
    const ValueCell* actor = object_values(port) + PORT_FIELD_ACTOR;
    if (actor->type() != TYPE_HANDLE) return nullptr;
    auto* table = static_cast<const ActionEntry*>(handle_address(actor));
    ActionEntry e = table ? table[action - ACT_APPEND] : nullptr;
    if (!e) {
        ValueCell w = action_word(action, "");
        fire(Err::access_no_port_action, &w);
    }
    return e;
}

// ---- make and text form ----------------------------------------------------------------------------

ValueCell* port_make(ValueCell*, ValueCell* spec, u32) {
    ValueCell* res = unset_push();
    ValueCell* sp = stack_push(spec);
    // The spec object.
    ValueCell spec_obj;
    if (sp->type() == TYPE_OBJECT) {
        spec_obj = *sp;
    } else {
        const ValueCell* parts =
            g_port_services.standard_url_parts ? g_port_services.standard_url_parts() : nullptr;
        if (!parts) not_done();
        ValueCell* proto = stack_push(parts);
        spec_obj = *object_make(proto, sp, TYPE_OBJECT);
    }
    ValueCell* s = stack_push(&spec_obj);
    if (object_word_count(s) == 0 || object_values(s)->type() != TYPE_WORD)
        fire(Err::access_no_scheme, s);
    ValueCell scheme_word = *object_values(s);
    scheme_word.header &= ~CELL_NEW_LINE;

    // The port: a copy of the prototype.
    const ValueCell* standard =
        g_port_services.standard_port ? g_port_services.standard_port() : nullptr;
    if (!standard) not_done();
    ValueCell* proto = stack_push(standard);
    if (!object_like(proto->type())) not_done();
    ValueCell* port = unset_push();
    object_duplicate(proto, port, false, nullptr, false);
    port->header = TYPE_PORT;
    set_object_class(port, PORT_CLASS_ID);
    object_refresh_owner(port);
    if (object_word_count(port) <= PORT_FIELD_ACTOR) fire(Err::access_invalid_port);
    ValueCell spec_value = *s;
    spec_value.header &= ~CELL_NEW_LINE;
    object_values(port)[PORT_FIELD_SPEC] = spec_value;
    object_values(port)[PORT_FIELD_SCHEME] = scheme_word;

    // The scheme and its actor.
    const ValueCell* registry = g_port_services.schemes ? g_port_services.schemes() : nullptr;
    if (!registry) not_done();
    ValueCell* reg = stack_push(registry);
    ValueCell* key = stack_push(&scheme_word);
    ValueCell scheme = g_none_cell;
    if (object_like(reg->type())) {
        scheme = *object_select_word(reg, key);
    } else if (type_block_like(reg->type()) || reg->type() == TYPE_MAP) {
        scheme = *action_select_dispatch(reg, key, nullptr, false, false, false, false, nullptr,
                                         nullptr, false, false);
    }
    if (scheme.type() != TYPE_OBJECT) fire(Err::access_unknown_scheme, s);
    ValueCell* sc = stack_push(&scheme);
    ValueCell actor_word;
    word_make_at(symbol_make("actor"), &actor_word);
    ValueCell actor = *object_select_word(sc, &actor_word);
    if (actor.type() != TYPE_OBJECT && actor.type() != TYPE_HANDLE)
        fire(Err::access_invalid_actor, s);
    actor.header &= ~CELL_NEW_LINE;
    object_values(port)[PORT_FIELD_ACTOR] = actor;
    *res = *port;
    g_stack.top = res + 1;
    return res;
}

i32 port_mold(ValueCell* port, ValueCell* out, bool, bool all, bool flat, ValueCell* arg_limit,
              i32 limit, i32 indent) {
    if (cycles_detect(port, out, &limit, true)) return limit;
    string_append_cstr(out, "make port! [");
    limit -= 12;
    limit = object_mold_body(port, out, false, all, flat, arg_limit, limit, indent, true);
    string_append_cstr(out, "]");
    return limit - 1;
}

i32 port_form(ValueCell* port, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    return port_mold(port, out, false, false, false, arg_limit, limit, 0);
}

// ---- series actions -----------------------------------------------------------------------------------

void port_append(ValueCell* port, ValueCell* value, i32 part, bool only, i32 dup, bool append) {
    ActorArgs args;
    args.value(value);
    args.count(part != -1, part);
    args.flag(only);
    args.count(dup > 1, dup);
    ValueCell word = append ? action_word(ACT_APPEND, "") : action_word(ACT_INSERT, "");
    write_result(forward(word, port, args));
}

void port_change(ValueCell* port, ValueCell* value, i32 part, bool only, i32 dup) {
    ActorArgs args;
    args.value(value);
    args.count(part != -1, part);
    args.flag(only);
    args.count(dup > 1, dup);
    write_result(forward(known_word(&g_words.n.change, "change"), port, args));
}

namespace {
// Forwards an action whose arguments are on the stack (the port, then one
// more when n is 2) under the word held in slot.
void forward_stack_action(ValueCell* const* slot, const char* name, i32 n) {
    ValueCell w = known_word(slot, name);
    port_forward_action(&w, n);
}
}  // namespace

void port_at() { forward_stack_action(&g_words.n.at, "at", 2); }
void port_back() { forward_stack_action(&g_words.n.back, "back", 1); }
void port_head() { forward_stack_action(&g_words.n.head, "head", 1); }
void port_head_q() { forward_stack_action(&g_words.n.head_q, "head?", 1); }
void port_index_q() { forward_stack_action(&g_words.n.index_q, "index?", 1); }
void port_next() { forward_stack_action(&g_words.n.next, "next", 1); }
void port_skip() { forward_stack_action(&g_words.n.skip, "skip", 2); }
void port_tail() { forward_stack_action(&g_words.n.tail, "tail", 1); }
void port_tail_q() { forward_stack_action(&g_words.n.tail_q, "tail?", 1); }

void port_clear(ValueCell* port) {
    write_result(forward(known_word(&g_words.n.clear, "clear"), port));
}

ValueCell* port_copy(ValueCell* port, ValueCell* fresh, ValueCell* part, bool deep,
                     ValueCell* types) {
    ActorArgs args;
    args.refinement(part);
    args.flag(deep);
    args.refinement(types);
    ValueCell r = take_result(forward(known_word(&g_words.copy, "copy"), port, args));
    *fresh = r;
    return fresh;
}

namespace {
// The arguments find and select share, in their order.
ActorArgs search_args(ValueCell* value, ValueCell* part, bool only, bool case_sensitive,
                      bool same, bool any, ValueCell* with, ValueCell* skip, bool last,
                      bool reverse) {
    ActorArgs args;
    args.value(value);
    args.refinement(part);
    args.flag(only);
    args.flag(case_sensitive);
    args.flag(same);
    args.flag(any);
    args.refinement(with);
    args.refinement(skip);
    args.flag(last);
    args.flag(reverse);
    return args;
}
}  // namespace

ValueCell* port_find(ValueCell* port, ValueCell* value, ValueCell* part, bool only,
                     bool case_sensitive, bool same, bool any, ValueCell* with, ValueCell* skip,
                     bool last, bool reverse, bool tail, bool match) {
    ActorArgs args =
        search_args(value, part, only, case_sensitive, same, any, with, skip, last, reverse);
    args.flag(tail);
    args.flag(match);
    return forward(known_word(&g_words.n.find, "find"), port, args);
}

i32 port_length_q(ValueCell* port) {
    ValueCell r = take_result(forward(known_word(&g_words.n.length_q, "length?"), port));
    return r.type() == TYPE_INTEGER ? integer_get(&r) : -1;
}

ValueCell* port_move(ValueCell* origin, ValueCell* target, ValueCell* part) {
    ActorArgs args;
    args.value(target);
    args.refinement(part);
    return forward(known_word(&g_words.n.move, "move"), origin, args);
}

ValueCell* port_pick(ValueCell* port, i32, ValueCell* index_cell) {
    ActorArgs args;
    args.value(index_cell);
    return forward(known_word(&g_words.n.pick, "pick"), port, args);
}

ValueCell* port_poke(ValueCell* port, i32, ValueCell* value, ValueCell* index_cell) {
    ActorArgs args;
    args.value(index_cell);
    args.value(value);
    return forward(known_word(&g_words.n.poke, "poke"), port, args);
}

ValueCell* port_put(ValueCell* port, ValueCell* key, ValueCell* value, bool case_sensitive) {
    ActorArgs args;
    args.value(key);
    args.value(value);
    args.flag(case_sensitive);
    return forward(known_word(&g_words.n.put, "put"), port, args);
}

void port_remove(ValueCell* port, ValueCell* part, ValueCell*) {
    ActorArgs args;
    args.refinement(part);
    write_result(forward(known_word(&g_words.remove, "remove"), port, args));
}

void port_reverse(ValueCell* port, ValueCell* part, ValueCell*) {
    ActorArgs args;
    args.refinement(part);
    write_result(forward(known_word(&g_words.n.reverse, "reverse"), port, args));
}

ValueCell* port_select(ValueCell* port, ValueCell* value, ValueCell* part, bool only,
                       bool case_sensitive, bool same, bool any, ValueCell* with,
                       ValueCell* skip, bool last, bool reverse) {
    ActorArgs args =
        search_args(value, part, only, case_sensitive, same, any, with, skip, last, reverse);
    return forward(known_word(&g_words.n.select, "select"), port, args);
}

ValueCell* port_sort(ValueCell* port, bool case_sensitive, ValueCell* skip,
                     ValueCell* comparator, ValueCell* part, bool all, bool reverse,
                     bool stable) {
    ActorArgs args;
    args.flag(case_sensitive);
    args.refinement(skip);
    args.refinement(comparator);
    args.refinement(part);
    args.flag(all);
    args.flag(reverse);
    args.flag(stable);
    return forward(known_word(&g_words.n.sort, "sort"), port, args);
}

void port_swap(ValueCell* port, ValueCell* other) {
    ActorArgs args;
    args.value(other);
    write_result(forward(known_word(&g_words.n.swap, "swap"), port, args));
}

ValueCell* port_take(ValueCell* port, ValueCell* part, bool deep, bool last) {
    ActorArgs args;
    args.refinement(part);
    args.flag(deep);
    args.flag(last);
    return forward(known_word(&g_words.n.take, "take"), port, args);
}

void port_trim(ValueCell* port, bool head, bool tail, bool auto_, bool lines, bool all,
               ValueCell* with) {
    ActorArgs args;
    args.flag(head);
    args.flag(tail);
    args.flag(auto_);
    args.flag(lines);
    args.flag(all);
    args.refinement(with);
    write_result(forward(known_word(&g_words.n.trim, "trim"), port, args));
}

// ---- I/O actions ------------------------------------------------------------------------------------------

ValueCell* port_create(ValueCell* port) {
    return forward(known_word(&g_words.n.create, "create"), port);
}
ValueCell* port_close(ValueCell* port) {
    return forward(known_word(&g_words.n.close, "close"), port);
}
ValueCell* port_delete(ValueCell* port) {
    return forward(known_word(&g_words.n.delete_, "delete"), port);
}
ValueCell* port_query(ValueCell* port) {
    return forward(known_word(&g_words.n.query, "query"), port);
}
ValueCell* port_update(ValueCell* port) {
    return forward(known_word(&g_words.n.update, "update"), port);
}

ValueCell* port_modify(ValueCell* port, ValueCell* field, ValueCell* value, bool case_sensitive) {
    ActorArgs args;
    args.value(field);
    args.value(value);
    args.flag(case_sensitive);
    return forward(known_word(&g_words.n.modify, "modify"), port, args);
}

ValueCell* port_open(ValueCell* port, bool new_, bool read, bool write, bool seek,
                     ValueCell* allow) {
    ActorArgs args;
    args.flag(new_);
    args.flag(read);
    args.flag(write);
    args.flag(seek);
    args.value(allow);
    return forward(known_word(&g_words.n.open, "open"), port, args);
}

ValueCell* port_rename(ValueCell* port, ValueCell* to) {
    ActorArgs args;
    args.value(to);
    return forward(known_word(&g_words.n.rename, "rename"), port, args);
}

ValueCell* port_read(ValueCell* port, ValueCell* part, ValueCell* seek, bool, bool, bool,
                     ValueCell*) {
    ValueCell* p = stack_push(port);
    take_result(port_open(p, false, false, false, seek != nullptr, nullptr));
    ValueCell* fresh = unset_push();
    port_copy(p, fresh, part, false, nullptr);
    take_result(port_close(p));
    ValueCell data = *fresh;
    g_stack.top = p;
    return stack_push(&data);
}

ValueCell* port_write(ValueCell* port, ValueCell* data, bool, bool, bool, bool, ValueCell* part,
                      ValueCell* seek, ValueCell*, ValueCell*) {
    ValueCell* p = stack_push(port);
    ValueCell* d = stack_push(data);
    take_result(port_open(p, false, false, true, seek != nullptr, nullptr));
    {
        // insert with /part only for an integer! length.
        ActorArgs args;
        args.value(d);
        bool counted = part && part->type() == TYPE_INTEGER;
        args.count(counted, counted ? integer_get(part) : 0);
        args.flag(false);
        args.count(false, 0);
        take_result(forward(action_word(ACT_INSERT, ""), p, args));
    }
    ValueCell* fresh = unset_push();
    port_copy(p, fresh, nullptr, false, nullptr);
    take_result(port_close(p));
    ValueCell result = *fresh;
    g_stack.top = p;
    return stack_push(&result);
}

// ---- registration -------------------------------------------------------------------------------------------

void port_init() {
    ActionRow row;
    row.set<ACT_MAKE>(port_make)
        .set<ACT_FORM>(port_form)
        .set<ACT_MOLD>(port_mold)
        .set<ACT_APPEND>(port_append)
        .set<ACT_AT>(port_at)
        .set<ACT_BACK>(port_back)
        .set<ACT_CHANGE>(port_change)
        .set<ACT_CLEAR>(port_clear)
        .set<ACT_COPY>(port_copy)
        .set<ACT_FIND>(port_find)
        .set<ACT_HEAD>(port_head)
        .set<ACT_HEAD_Q>(port_head_q)
        .set<ACT_INDEX_Q>(port_index_q)
        .set<ACT_INSERT>(port_append)
        .set<ACT_LENGTH_Q>(port_length_q)
        .set<ACT_MOVE>(port_move)
        .set<ACT_NEXT>(port_next)
        .set<ACT_PICK>(port_pick)
        .set<ACT_POKE>(port_poke)
        .set<ACT_PUT>(port_put)
        .set<ACT_REMOVE>(port_remove)
        .set<ACT_REVERSE>(port_reverse)
        .set<ACT_SELECT>(port_select)
        .set<ACT_SORT>(port_sort)
        .set<ACT_SKIP>(port_skip)
        .set<ACT_SWAP>(port_swap)
        .set<ACT_TAIL>(port_tail)
        .set<ACT_TAIL_Q>(port_tail_q)
        .set<ACT_TAKE>(port_take)
        .set<ACT_TRIM>(port_trim)
        .set<ACT_CREATE>(port_create)
        .set<ACT_CLOSE>(port_close)
        .set<ACT_DELETE>(port_delete)
        .set<ACT_MODIFY>(port_modify)
        .set<ACT_OPEN>(port_open)
        .set<ACT_QUERY>(port_query)
        .set<ACT_READ>(port_read)
        .set<ACT_RENAME>(port_rename)
        .set<ACT_UPDATE>(port_update)
        .set<ACT_WRITE>(port_write)
        .inherit({ACT_REFLECT, ACT_EVAL_PATH, ACT_COMPARE});
    datatype_register(TYPE_PORT, row);
}

}  // namespace zan
