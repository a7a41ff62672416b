// The error catalogue's data and its object form.
#include "runtime/typesystem/error_catalog.h"

#include <cstring>

#include "runtime/core/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

const ErrorCategoryInfo g_error_categories[ERRCAT_COUNT] = {
    {"throw", 0, "Throw Error"},         {"note", 100, "note"},
    {"syntax", 200, "Syntax Error"},     {"script", 300, "Script Error"},
    {"math", 400, "Math Error"},         {"access", 500, "Access Error"},
    {"reserved1", 600, "Reserved1 Error"}, {"reserved2", 700, "Reserved2 Error"},
    {"user", 800, "User Error"},         {"internal", 900, "Internal Error"},
};

namespace {

struct TemplateRow {
    Err id;
    const char* source;
};

// In catalogue order, one row per id of error_ids.def.
constexpr TemplateRow kTemplates[] = {
    // throw
    {Err::throw_break, R"t("no loop to break")t"},
    {Err::throw_return, R"t("return or exit not in function")t"},
    {Err::throw_throw, R"t(["no catch for throw:" :arg1])t"},
    {Err::throw_continue, R"t("no loop to continue")t"},
    {Err::throw_while_cond, R"t("BREAK/CONTINUE cannot be used in WHILE condition block")t"},
    // note
    {Err::note_no_load, R"t(["cannot load: " :arg1])t"},
    // syntax
    {Err::syntax_invalid, R"t([:arg1 "invalid" :arg2 "at" :arg3])t"},
    {Err::syntax_missing, R"t([:arg1 "missing" :arg2 "at" :arg3])t"},
    {Err::syntax_no_header, R"t(["script is missing a Zan header:" :arg1])t"},
    {Err::syntax_no_zs_header, R"t(["script is missing a Zan/System header:" :arg1])t"},
    {Err::syntax_bad_header, R"t(["script header is not valid:" :arg1])t"},
    {Err::syntax_malconstruct, R"t([:arg1 "invalid construction spec at" :arg2])t"},
    {Err::syntax_bad_char, R"t([:arg1 "invalid character at" :arg2])t"},
    // script
    {Err::script_no_value, R"t([:arg1 "has no value"])t"},
    {Err::script_need_value, R"t([:arg1 "needs a value"])t"},
    {Err::script_not_defined, R"t([:arg1 "word is not bound to a context"])t"},
    {Err::script_not_in_context, R"t([:arg1 "is not in the specified context"])t"},
    {Err::script_no_arg, R"t([:arg1 "is missing its" :arg2 "argument"])t"},
    {Err::script_expect_arg, R"t([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])t"},
    {Err::script_expect_val, R"t(["expected" :arg1 "not" :arg2])t"},
    {Err::script_expect_type, R"t([:arg1 "field" :arg2 "must be of type" :arg3])t"},
    {Err::script_cannot_use, R"t(["cannot use" :arg1 "on" :arg2 "value"])t"},
    {Err::script_invalid_arg, R"t(["invalid argument:" :arg1])t"},
    {Err::script_invalid_type, R"t([:arg1 "type is not allowed here"])t"},
    {Err::script_invalid_type_spec, R"t(["invalid type specifier:" :arg1])t"},
    {Err::script_invalid_key_type, R"t(["invalid key type:" :arg1])t"},
    {Err::script_invalid_op, R"t(["invalid operator:" :arg1])t"},
    {Err::script_no_op_arg, R"t([:arg1 "operator is missing an argument"])t"},
    {Err::script_bad_op_spec, R"t("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")t"},
    {Err::script_invalid_data, R"t(["data not in correct format:" :arg1])t"},
    {Err::script_invalid_part, R"t(["invalid /part count:" :arg1])t"},
    {Err::script_not_same_type, R"t("values must be of the same type")t"},
    {Err::script_not_same_class, R"t(["cannot coerce" :arg1 "to" :arg2])t"},
    {Err::script_not_related, R"t(["incompatible argument for" :arg1 "of" :arg2])t"},
    {Err::script_bad_func_def, R"t(["invalid function definition:" :arg1])t"},
    {Err::script_bad_func_arg, R"t(["function argument" :arg1 "is not valid"])t"},
    {Err::script_bad_func_extern, R"t(["invalid /extern entry:" :arg1])t"},
    {Err::script_no_refine, R"t([:arg1 "has no refinement called" :arg2])t"},
    {Err::script_bad_refines, R"t("incompatible or invalid refinements")t"},
    {Err::script_bad_refine, R"t(["invalid refinement value:" :arg1])t"},
    {Err::script_dup_refine, R"t(["duplicate refinement usage in:" :arg1])t"},
    {Err::script_word_first, R"t(["path must start with a word:" :arg1])t"},
    {Err::script_empty_path, R"t("cannot evaluate an empty path value")t"},
    {Err::script_unset_path, R"t([:arg2 "is unset in path" :arg1])t"},
    {Err::script_invalid_path, R"t(["cannot access" :arg2 "in path" :arg1])t"},
    {Err::script_invalid_path_set, R"t(["unsupported type in" :arg1 "set-path"])t"},
    {Err::script_invalid_path_get, R"t(["unsupported type in" :arg1 "get-path"])t"},
    {Err::script_bad_path_type, R"t([:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed"])t"},
    {Err::script_bad_path_type2, R"t(["path element >" :arg1 "< does not apply to" :arg2 "type"])t"},
    {Err::script_bad_path_set, R"t(["cannot set" :arg2 "in path" :arg1])t"},
    {Err::script_bad_field_set, R"t(["cannot set" :arg1 "field to" :arg2 "datatype"])t"},
    {Err::script_dup_vars, R"t(["duplicate variable specified:" :arg1])t"},
    {Err::script_past_end, R"t("out of range or past end")t"},
    {Err::script_missing_arg, R"t("missing a required argument or refinement")t"},
    {Err::script_out_of_range, R"t(["value out of range:" :arg1])t"},
    {Err::script_invalid_chars, R"t("contains invalid characters")t"},
    {Err::script_invalid_compare, R"t(["cannot compare" :arg1 "with" :arg2])t"},
    {Err::script_wrong_type, R"t(["datatype assertion failed for:" :arg1])t"},
    {Err::script_invalid_refine_arg, R"t(["invalid" :arg1 "argument:" :arg2])t"},
    {Err::script_type_limit, R"t([:arg1 "overflow/underflow"])t"},
    {Err::script_size_limit, R"t(["maximum limit reached:" :arg1])t"},
    {Err::script_no_return, R"t("block did not return a value")t"},
    {Err::script_throw_usage, R"t("invalid use of a thrown error value")t"},
    {Err::script_locked_word, R"t(["protected word - cannot modify:" :arg1])t"},
    {Err::script_protected, R"t("protected value or series - cannot modify")t"},
    {Err::script_bad_bad, R"t([:arg1 "error:" :arg2])t"},
    {Err::script_bad_make_arg, R"t(["cannot MAKE" :arg1 "from:" :arg2])t"},
    {Err::script_bad_to_arg, R"t(["cannot MAKE/TO" :arg1 "from:" :arg2])t"},
    {Err::script_invalid_months, R"t("invalid system/locale/month list")t"},
    {Err::script_invalid_spec_field, R"t(["invalid" :arg1 "field in spec block"])t"},
    {Err::script_missing_spec_field, R"t([:arg1 "not found in spec block"])t"},
    {Err::script_move_bad, R"t(["cannot MOVE elements from" :arg1 "to" :arg2])t"},
    {Err::script_too_long, R"t("Content too long")t"},
    {Err::script_invalid_char, R"t(["invalid character in:" :arg1])t"},
    {Err::script_bad_loop_series, R"t(["Loop series changed to invalid value:" :arg1])t"},
    {Err::script_wrong_denom, R"t([:arg1 "not same denomination as" :arg2])t"},
    {Err::script_bad_denom, R"t(["invalid denomination:" :arg1])t"},
    {Err::script_invalid_obj_evt, R"t(["invalid object event handler:" :arg1])t"},
    {Err::script_parse_rule, R"t(["PARSE - invalid rule or usage of rule:" :arg1])t"},
    {Err::script_parse_end, R"t(["PARSE - unexpected end of rule after:" :arg1])t"},
    {Err::script_parse_invalid_ref, R"t(["PARSE - get-word refers to a different series!" :arg1])t"},
    {Err::script_parse_block, R"t(["PARSE - input must be of any-block! type:" :arg1])t"},
    {Err::script_parse_unsupported, R"t("PARSE - matching by datatype not supported for any-string! input")t"},
    {Err::script_parse_infinite, R"t(["PARSE - infinite recursion at rule: [" :arg1 "]"])t"},
    {Err::script_parse_stack, R"t("PARSE - stack limit reached")t"},
    {Err::script_parse_keep, R"t("PARSE - KEEP is used without a wrapping COLLECT")t"},
    {Err::script_parse_into_bad, R"t("PARSE - COLLECT INTO/AFTER invalid series! argument")t"},
    {Err::script_parse_into_type, R"t("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")t"},
    {Err::script_draw_invalid, R"t(["DRAW - invalid input at:" :arg1])t"},
    {Err::script_draw_infinite, R"t(["DRAW - infinite recursion at:" :arg1])t"},
    {Err::script_invalid_data_facet, R"t(["VIEW - invalid data facet content:" :arg1])t"},
    {Err::script_face_type, R"t(["VIEW - invalid face type:" :arg1])t"},
    {Err::script_not_window, R"t("VIEW - expected a window root face")t"},
    {Err::script_bad_window, R"t("VIEW - a window face cannot be nested in another window")t"},
    {Err::script_not_linked, R"t("VIEW - face not linked to a window")t"},
    {Err::script_not_event_type, R"t(["VIEW - not a valid event type" :arg1])t"},
    {Err::script_invalid_facet_type, R"t(["VIEW - invalid rate value:" :arg1])t"},
    {Err::script_vid_invalid_syntax, R"t(["VID - invalid syntax at:" :arg1])t"},
    {Err::script_rtd_invalid_syntax, R"t(["RTD - invalid syntax at:" :arg1])t"},
    {Err::script_rtd_no_match, R"t(["RTD - opening/closing tag not matching for:" :arg1])t"},
    {Err::script_react_bad_func, R"t("REACT - /LINK needs a function argument")t"},
    {Err::script_react_not_enough, R"t("REACT - a reactive function needs at least 2 arguments")t"},
    {Err::script_react_no_match, R"t("REACT - the objects block must match the function's argument count")t"},
    {Err::script_react_bad_obj, R"t("REACT - targets must be objects")t"},
    {Err::script_react_gctx, R"t(["REACT - word" :arg1 "is not a reactor's field"])t"},
    {Err::script_lib_invalid_arg, R"t(["LIBZAN - invalid argument for" :arg1])t"},
    {Err::script_zb_invalid_record, R"t(["ZANBIN - invalid record at index" :arg1])t"},
    // math
    {Err::math_zero_divide, R"t("attempt to divide by zero")t"},
    {Err::math_overflow, R"t("math or number overflow")t"},
    {Err::math_positive, R"t("positive number required")t"},
    // access
    {Err::access_cannot_open, R"t(["cannot open:" :arg1 "reason:" :arg2])t"},
    {Err::access_cannot_close, R"t(["cannot close:" :arg1])t"},
    {Err::access_invalid_utf8, R"t(["invalid UTF-8 encoding:" :arg1])t"},
    {Err::access_not_open, R"t(["port is not open:" :arg1])t"},
    // The reason is the one the HTTP service gives (refused, unknown host,
    // a certificate...), not always "timeout".
    {Err::access_no_connect, R"t(["cannot connect:" :arg1 "reason:" :arg2])t"},
    {Err::access_no_scheme, R"t(["missing port scheme:" :arg1])t"},
    {Err::access_unknown_scheme, R"t(["scheme is unknown:" :arg1])t"},
    {Err::access_invalid_spec, R"t(["invalid spec or options:" :arg1])t"},
    {Err::access_invalid_port, R"t("invalid port object (invalid field values)")t"},
    {Err::access_invalid_actor, R"t("invalid port actor (must be handle or object)")t"},
    {Err::access_no_port_action, R"t("port action not supported")t"},
    {Err::access_no_create, R"t(["cannot create:" :arg1])t"},
    {Err::access_no_codec, R"t(["cannot decode or encode (no codec):" :arg1])t"},
    {Err::access_bad_media, R"t("bad media data (corrupt image, sound, video)")t"},
    {Err::access_invalid_cmd, R"t(["invalid port command:" :arg1])t"},
    // Beyond the fixed catalogue: a write that fails (a full disk, a
    // closed pipe) is reported instead of passing for a success.
    {Err::access_write_failed, R"t(["write failed:" :arg1 "reason:" :arg2])t"},
    // user
    {Err::user_message, R"t(arg1)t"},
    // internal
    {Err::internal_bad_path, R"t(["bad path:" arg1])t"},
    {Err::internal_not_here, R"t([arg1 "not supported on your system"])t"},
    {Err::internal_no_memory, R"t("not enough memory")t"},
    {Err::internal_wrong_mem, R"t("failed to release memory")t"},
    {Err::internal_stack_overflow, R"t("stack overflow")t"},
    {Err::internal_limit_hit, R"t(["internal limit reached:" arg1])t"},
    {Err::internal_too_deep, R"t("block or paren series is too deep to process")t"},
    {Err::internal_no_cycle, R"t("circular reference not allowed")t"},
    {Err::internal_feature_na, R"t("feature not available")t"},
    {Err::internal_not_done, R"t("reserved for future use (or not yet implemented)")t"},
    {Err::internal_invalid_error, R"t(["invalid error object field value:" arg1])t"},
    {Err::internal_routines, R"t("routines require compilation, from OS shell: `zan -r <script.zan>`")t"},
    {Err::internal_zan_system, R"t("contains Zan/System code which requires compilation")t"},
    {Err::internal_deprecated, R"t([arg1 "is DEPRECATED, please use" arg2 "instead"])t"},
};

constexpr Err kIdOrder[] = {
#define ZAN_X(code, cat, name, word) Err::name,
    ZAN_ERROR_IDS(ZAN_X)
#undef ZAN_X
};

constexpr bool templates_follow_ids() {
    if (sizeof(kTemplates) / sizeof(kTemplates[0]) != sizeof(kIdOrder) / sizeof(kIdOrder[0]))
        return false;
    for (size_t i = 0; i < sizeof(kIdOrder) / sizeof(kIdOrder[0]); i++)
        if (kTemplates[i].id != kIdOrder[i]) return false;
    return true;
}
static_assert(templates_follow_ids(), "one template per catalogued id, in catalogue order");

// The catalogue in use (an object!), a collector root once set.
ValueCell g_catalog{TYPE_NONE, 0, 0, 0};
bool g_catalog_rooted = false;

void set_catalog(const ValueCell* c) {
    g_catalog = *c;
    if (!g_catalog_rooted) {
        gc_add_root(&g_catalog);
        g_catalog_rooted = true;
    }
}

// The collector is held off (GcHold) while the catalogue is built, so that
// its parts can be kept in C++ locals: building it may be the first thing a
// stack overflow's error does, with hardly any data stack left.

void unbound_word(const char* name, u32 type, ValueCell* out) {
    cell_init(out, type, 0, symbol_make(name), static_cast<u32>(-1));
}

// The template as a value: string!, block! of strings and words, or word!.
void template_value(const ErrorTemplate& t, ValueCell* out) {
    auto text = [](const std::string& s, ValueCell* c) {
        string_load(s.data(), static_cast<u32>(s.size()), c, 0);
    };
    auto word = [](const ErrorTemplateItem& it, ValueCell* c) {
        unbound_word(it.text.c_str(),
                     it.kind == ErrorTemplateItem::GET_WORD ? TYPE_GET_WORD : TYPE_WORD, c);
    };
    switch (t.shape) {
        case ErrorTemplate::STRING:
            text(t.items[0].text, out);
            return;
        case ErrorTemplate::WORD:
            word(t.items[0], out);
            return;
        case ErrorTemplate::BLOCK: {
            ValueCell b;
            block_make_at(&b, static_cast<u32>(t.items.size()));
            for (const auto& it : t.items) {
                ValueCell v;
                if (it.kind == ErrorTemplateItem::TEXT) text(it.text, &v);
                else word(it, &v);
                block_append_cell(&b, &v);
            }
            *out = b;
            return;
        }
    }
}

// Adds a field to an object.
void add_field(const ValueCell* obj, const char* name, const ValueCell* value) {
    ValueCell w;
    unbound_word(name, TYPE_WORD, &w);
    context_add_word_value(context_cell(context_of(obj)), &w, value);
}

}  // namespace

bool error_template_parse(const char* source, ErrorTemplate* out) {
    out->items.clear();
    const char* p = source;
    auto skip_space = [&] {
        while (*p == ' ' || *p == '\t' || *p == '\n') p++;
    };
    // One item: a quoted string, :word or word. Returns false when none.
    auto item = [&](ErrorTemplateItem* it) -> bool {
        skip_space();
        if (*p == '"') {
            const char* end = std::strchr(p + 1, '"');
            if (!end) return false;
            it->kind = ErrorTemplateItem::TEXT;
            it->text.assign(p + 1, end);
            p = end + 1;
            return true;
        }
        bool get = *p == ':';
        if (get) p++;
        const char* start = p;
        while (*p && *p != ' ' && *p != ']' && *p != '[' && *p != '"') p++;
        if (p == start) return false;
        it->kind = get ? ErrorTemplateItem::GET_WORD : ErrorTemplateItem::WORD;
        it->text.assign(start, p);
        return true;
    };
    skip_space();
    if (*p == '[') {
        p++;
        out->shape = ErrorTemplate::BLOCK;
        for (;;) {
            skip_space();
            if (*p == ']') {
                p++;
                break;
            }
            if (!*p) return false;
            ErrorTemplateItem it;
            if (!item(&it)) return false;
            out->items.push_back(it);
        }
    } else {
        ErrorTemplateItem it;
        if (!item(&it)) return false;
        if (it.kind == ErrorTemplateItem::GET_WORD) return false;
        out->shape = it.kind == ErrorTemplateItem::TEXT ? ErrorTemplate::STRING : ErrorTemplate::WORD;
        out->items.push_back(it);
    }
    skip_space();
    return *p == 0;
}

ValueCell* error_catalog_build(ValueCell* out) {
    GcHold hold;
    ValueCell cats;
    object_make_at(&cats, ERRCAT_COUNT);
    set_object_class(&cats, object_new_class_id());
    for (u32 k = 0; k < ERRCAT_COUNT; k++) {
        u32 ids = 0;
        for (const auto& row : kTemplates)
            if (err_category(row.id) == k) ids++;
        ValueCell cat;
        object_make_at(&cat, 2 + ids);
        set_object_class(&cat, object_new_class_id());
        ValueCell v;
        integer_box(&v, static_cast<i32>(g_error_categories[k].code));
        add_field(&cat, "code", &v);
        string_load(g_error_categories[k].title,
                    static_cast<u32>(std::strlen(g_error_categories[k].title)), &v, 0);
        add_field(&cat, "type", &v);
        for (const auto& row : kTemplates) {
            if (err_category(row.id) != k) continue;
            ErrorTemplate t;
            if (!error_template_parse(row.source, &t)) runtime_fatal(3, "malformed error template");
            template_value(t, &v);
            add_field(&cat, err_id_name(row.id), &v);
        }
        object_refresh_owner(&cat);
        add_field(&cats, g_error_categories[k].word, &cat);
    }
    object_refresh_owner(&cats);
    *out = cats;
    return out;
}

bool error_catalog_ready() { return g_symbols.hash != 0 && g_global_ctx != 0; }

const ValueCell* error_catalog() {
    if (g_catalog.type() != TYPE_OBJECT) {
        GcHold hold;
        ValueCell c;
        error_catalog_build(&c);
        set_catalog(&c);
    }
    return &g_catalog;
}

void error_catalog_install(const ValueCell* catalog) {
    if (catalog->type() == TYPE_OBJECT) set_catalog(catalog);
}

Node error_catalog_categories() { return context_of(error_catalog()); }

u32 error_catalog_category_count() { return object_word_count(error_catalog()); }

Node error_catalog_category(u32 k) {
    const ValueCell* c = error_catalog();
    if (k >= object_word_count(c)) return 0;
    const ValueCell* v = object_values(c) + k;
    return v->type() == TYPE_OBJECT ? context_of(v) : 0;
}

void error_catalog_reset() { cell_init(&g_catalog, TYPE_NONE); }

}  // namespace zan
