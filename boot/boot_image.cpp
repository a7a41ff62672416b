// The boot image builder: module files in, one ZANBIN image out.
#include "boot/boot_image.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <cctype>

#include "boot/boot_util.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/native.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/lexer/lexer.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan {

namespace {

const char* const kSourceFolders[] = {"library", "gui", "console"};

// The values of a text as a block!, pushed on the data stack.
ValueCell* load_text(const std::string& text) {
    ValueCell* out = none_push();
    lexer_transcode(out, reinterpret_cast<const u8*>(text.data()), static_cast<u32>(text.size()),
                    false, true, true, 0, nullptr, nullptr, nullptr, nullptr);
    return out;
}

bool word_named(const ValueCell* c, const char* name) {
    return c->type() == TYPE_WORD &&
           symbol_resolve(word_symbol(c)) == symbol_resolve(symbol_make(name));
}

// A module file's code: its values after the "Zan [...]" header, as a new
// block pushed on the data stack.
ValueCell* module_code(const std::string& text, const std::string& file) {
    ValueCell* all = load_text(text);
    i32 n = block_length(all);
    if (n < 2 || !word_named(block_head_ptr(all), "Zan") ||
        block_head_ptr(all)[1].type() != TYPE_BLOCK)
        throw std::runtime_error(file + ": the file does not start with a Zan [...] header");
    ValueCell* code = block_push_new(static_cast<u32>(n - 2));
    for (i32 i = 2; i < n; i++) {
        ValueCell v = block_head_ptr(all)[i];
        block_append_cell(code, &v);
    }
    return code;
}

// A native! or action! value from its spec block and number (pushed).
ValueCell* make_builtin(const ValueCell* spec, u32 index, u32 type) {
    ValueCell* holder = block_push_new(2);
    ValueCell s = *spec;
    block_append_cell(holder, &s);
    ValueCell n;
    integer_box(&n, static_cast<i32>(index));
    block_append_cell(holder, &n);
    ValueCell h = *holder;
    ValueCell proto;
    datatype_box(&proto, type);
    return type == TYPE_NATIVE ? native_make(&proto, &h, type) : action_value_make(&proto, &h, type);
}

struct Builder {
    ZanbinBootWriter writer;
    std::map<std::string, ValueCell> typesets;  // the built-in typesets by name
    std::map<u32, std::string> actions;         // the action entries read, by number

    Builder() : writer(options()) {}
    static ZanbinEncodeOptions options() {
        ZanbinEncodeOptions o;
        o.compact = true;
        o.compress = false;
        return o;
    }

    void assign(const char* name, const ValueCell* value) {
        ValueCell w = *word_load(name);
        ValueCell v = *value;
        ValueCell* held = stack_push(&v);
        writer.add_assignment(&w, held);
    }

    void natives() {
        for (u32 i = 1; i <= NATIVES_COUNT; i++) {
            ValueCell* mark = g_stack.top;
            const NativeInfo* ni = native_info(i);
            ValueCell* spec = load_text(ni->spec);
            if (block_length(spec) != 1 || block_head_ptr(spec)->type() != TYPE_BLOCK)
                throw std::runtime_error(std::string("native ") + ni->name +
                                         ": its spec is not one block");
            ValueCell s = *block_head_ptr(spec);
            ValueCell* made = make_builtin(&s, i, TYPE_NATIVE);
            assign(ni->name, made);
            g_stack.top = mark;
        }
    }

    // Every datatype word but datatype! (set by module 1) and series! (a
    // typeset), also of the types registered later (event!).
    void datatypes() {
        for (u32 t = 1; t <= TYPE_LAST; t++) {
            if (t == TYPE_DATATYPE || t == TYPE_SERIES) continue;
            ValueCell dt;
            datatype_box(&dt, t);
            assign(type_name_of(t), &dt);
        }
    }

    // name: typeset [members]: datatypes and typesets declared before.
    void typeset(const std::string& name, const ValueCell* members, const std::string& file) {
        ValueCell ts;
        typeset_make_at(&ts, 0, 0, 0);
        i32 n = block_length(members);
        for (i32 i = 0; i < n; i++) {
            ValueCell m = block_head_ptr(members)[i];
            if (m.type() != TYPE_WORD)
                throw std::runtime_error(file + ": typeset " + name + ": not a word: " +
                                         boot_mold(&m));
            std::string member = symbol_to_cstr(word_symbol(&m));
            if (u32 t = type_id_of_name(member.c_str()); t && t != TYPE_SERIES) {
                typeset_add_type(&ts, t);
            } else if (auto it = typesets.find(member); it != typesets.end()) {
                for (int w = 0; w < 3; w++) typeset_words(&ts)[w] |= typeset_words(&it->second)[w];
            } else {
                throw std::runtime_error(file + ": typeset " + name + ": unknown member " + member);
            }
        }
        typesets[name] = ts;
        assign(name.c_str(), &ts);
    }

    // An action entry's number typed by hand must be the one the action
    // table gives its name, and be used once.
    void check_action(const std::string& name, i64 number, const std::string& file) {
        if (number < 1 || number > ACT_COUNT)
            throw std::runtime_error(file + ": " + name + ": action " + std::to_string(number) +
                                     " is not an action number (1 to " +
                                     std::to_string(ACT_COUNT) + ")");
        if (name != ACTION_NAMES[number - 1])
            throw std::runtime_error(file + ": " + name + ": action " + std::to_string(number) +
                                     " is " + ACTION_NAMES[number - 1] +
                                     " in the action table (runtime/typesystem/action_table.h)");
        if (auto [at, fresh] = actions.emplace(static_cast<u32>(number), name); !fresh)
            throw std::runtime_error(file + ": " + name + ": action " + std::to_string(number) +
                                     " is given twice");
    }

    // The built-in words file: "name: action N [spec]" and
    // "name: typeset [members]" entries.
    void builtins(const ValueCell* code, const std::string& file) {
        i32 n = block_length(code);
        i32 i = 0;
        while (i < n) {
            ValueCell* mark = g_stack.top;
            ValueCell head = block_head_ptr(code)[i];
            if (head.type() != TYPE_SET_WORD || i + 1 >= n)
                throw std::runtime_error(file + ": expected name: action N [spec] or name: "
                                         "typeset [...], found " + boot_mold(&head));
            std::string name = symbol_to_cstr(word_symbol(&head));
            ValueCell kind = block_head_ptr(code)[i + 1];
            if (word_named(&kind, "action") && i + 3 < n &&
                block_head_ptr(code)[i + 2].type() == TYPE_INTEGER &&
                block_head_ptr(code)[i + 3].type() == TYPE_BLOCK) {
                i64 typed = integer_get(block_head_ptr(code) + i + 2);
                check_action(name, typed, file);
                u32 number = static_cast<u32>(typed);
                ValueCell spec = block_head_ptr(code)[i + 3];
                ValueCell* made = make_builtin(&spec, number, TYPE_ACTION);
                assign(name.c_str(), made);
                i += 4;
            } else if (word_named(&kind, "typeset") && i + 2 < n &&
                       block_head_ptr(code)[i + 2].type() == TYPE_BLOCK) {
                ValueCell members = block_head_ptr(code)[i + 2];
                typeset(name, &members, file);
                i += 3;
            } else {
                throw std::runtime_error(file + ": " + name + ": not an action or typeset entry");
            }
            g_stack.top = mark;
        }
    }

    void module(const BootSourceFile& f, const std::string& text) {
        ValueCell* mark = g_stack.top;
        ValueCell* code = module_code(text, f.relative);
        if (f.module == 0) {
            builtins(code, f.relative);
        } else {
            ValueCell* name = string_load_push(f.relative.data(),
                                               static_cast<u32>(f.relative.size()), 0);
            writer.add_root(name);
            writer.add_root(code);
        }
        g_stack.top = mark;
    }
};

}  // namespace

int boot_module_number(const std::string& name) {
    if (name.size() < 3 || !std::isdigit(static_cast<unsigned char>(name[0])) ||
        !std::isdigit(static_cast<unsigned char>(name[1])) || name[2] != '-')
        return -1;
    return (name[0] - '0') * 10 + (name[1] - '0');
}

bool boot_list_sources(const std::string& root, std::vector<BootSourceFile>* files,
                       std::string* error) {
    files->clear();
    std::map<std::string, BootSourceFile> by_name;
    for (const char* folder : kSourceFolders) {
        std::string dir = root + "/" + folder;
        DIR* d = ::opendir(dir.c_str());
        if (!d) continue;  // a subsystem without modules yet
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.size() < 5 || name.substr(name.size() - 4) != ".zan") continue;
            int number = boot_module_number(name);
            if (number < 0) continue;
            BootSourceFile f{std::string(folder) + "/" + name, dir + "/" + name, number};
            if (by_name.count(name)) {
                *error = "two module files named " + name + ": " + by_name[name].relative +
                         " and " + f.relative;
                ::closedir(d);
                return false;
            }
            by_name[name] = f;
        }
        ::closedir(d);
    }
    for (auto& [name, f] : by_name) files->push_back(f);
    if (files->empty() || files->front().module != 0 ||
        files->front().relative != "library/00-builtins.zan") {
        *error = "no library/00-builtins.zan under " + root;
        return false;
    }
    return true;
}

bool boot_build_image(const std::vector<BootSourceFile>& files, std::vector<u8>* image,
                      std::string* error) {
    std::string failure;
    std::string current;
    bool ok = boot_guarded(
        [&] {
            try {
                Builder b;
                b.natives();
                b.datatypes();
                for (const BootSourceFile& f : files) {
                    current = f.relative;
                    std::string text;
                    if (!boot_read_file(f.path, &text))
                        throw std::runtime_error(f.relative + ": cannot be read");
                    b.module(f, text);
                }
                current.clear();
                *image = b.writer.finish();
            } catch (std::runtime_error& e) {
                failure = e.what();
            }
        },
        error);
    if (!ok) {
        if (!current.empty()) *error = current + ": " + *error;
        return false;
    }
    if (!failure.empty()) {
        *error = failure;
        return false;
    }
    // The embedded image carries version 1.
    if (image->size() > 6) (*image)[6] = BOOT_IMAGE_VERSION;
    return true;
}

}  // namespace zan
