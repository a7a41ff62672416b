// The command line, the environment and the description of the system.
#include "runtime/io/host/os_env.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"

extern char** environ;

namespace zan {

namespace {

bool g_args_recorded = false;
std::vector<std::string>& recorded_args() {
    static std::vector<std::string> args;
    return args;
}

bool separator_q(char c) { return c == ' ' || c == '\t'; }

}  // namespace

// ---- command line -----------------------------------------------------------------------------------

void host_set_command_line(int argc, const char* const* argv) {
    auto& args = recorded_args();
    args.clear();
    for (int i = 0; i < argc; i++) args.emplace_back(argv[i] ? argv[i] : "");
    g_args_recorded = true;
}

std::vector<std::string> host_command_args() {
    if (g_args_recorded) return recorded_args();
    // The arguments as the kernel keeps them: NUL-terminated, one after
    // the other.
    std::vector<std::string> args;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

std::vector<std::string> command_line_split(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0, n = line.size();
    for (;;) {
        while (i < n && separator_q(line[i])) i++;
        if (i == n) break;
        size_t start = i;
        bool quoted = false;
        while (i < n && (quoted || !separator_q(line[i]))) {
            if (line[i] == '"') quoted = !quoted;
            i++;
        }
        size_t b = start, e = i;
        if (line[b] == '"') b++;
        if (e - start >= 2 && line[e - 1] == '"') e--;
        out.push_back(line.substr(b, e - b));
    }
    return out;
}

namespace {

// Whether the text, followed by a separator and another argument, splits
// back into the argument and that other one.
bool spelling_ok(const std::string& spelling, const std::string& arg) {
    std::vector<std::string> parts = command_line_split(spelling + " x");
    return parts.size() == 2 && parts[0] == arg && parts[1] == "x";
}

std::string spell_argument(const std::string& arg, bool* exact) {
    bool plain = !arg.empty();
    for (char c : arg)
        if (separator_q(c) || c == '"') plain = false;
    if (plain) return arg;
    const std::string candidates[] = {arg, "\"" + arg + "\"", "\"" + arg, arg + "\""};
    for (const std::string& c : candidates)
        if (!c.empty() && spelling_ok(c, arg)) return c;
    if (exact) *exact = false;
    return "\"" + arg + "\"";
}

}  // namespace

std::string command_line_join(const std::vector<std::string>& args, bool* exact) {
    if (exact) *exact = true;
    std::string line;
    for (size_t k = 0; k < args.size(); k++) {
        if (k) line.push_back(' ');
        line += spell_argument(args[k], exact);
    }
    return line;
}

ValueCell* string_load_lenient_push(const char* bytes, size_t length) {
    const u8* p = reinterpret_cast<const u8*>(bytes);
    const u8* end = p + length;
    ValueCell* s = string_push_new(static_cast<u32>(length) + 1);
    while (p < end) {
        i32 cp;
        const u8* next = utf8_decode_char_lenient(p, end, &cp);
        string_append_char(s, cp < 0 || cp > static_cast<i32>(UNICODE_MAX) ? 0xFFFDu
                                                                           : static_cast<u32>(cp));
        p = next;
    }
    return s;
}

ValueCell* os_command_line() {
    std::string line = command_line_join(host_command_args());
    return string_load_lenient_push(line.data(), line.size());
}

// ---- environment ---------------------------------------------------------------------------------------

ValueCell* os_list_env(const char* const* environment) {
    if (!environment) environment = environ;
    ValueCell* mark = g_stack.top;
    ValueCell* blk = block_push_new(100);
    for (const char* const* e = environment; e && *e; e++) {
        const char* entry = *e;
        size_t len = std::strlen(entry);
        if (len == 0) break;
        const char* eq = len > 1 ? std::strchr(entry + 1, '=') : nullptr;
        size_t name_len = eq ? static_cast<size_t>(eq - entry) : len;
        // (Bytes that are not UTF-8 kept as get-env keeps them.)
        ValueCell* name = local_text_load(reinterpret_cast<const u8*>(entry),
                                          static_cast<u32>(name_len));
        block_append_cell(blk, name);
        stack_pop(1);
        const char* value = eq ? eq + 1 : entry + len;
        ValueCell* v = local_text_load(reinterpret_cast<const u8*>(value),
                                       static_cast<u32>(std::strlen(value)));
        block_append_cell(blk, v);
        stack_pop(1);
    }
    ValueCell* map = stack_push_cell();
    map_make_at(map, blk, 0);
    ValueCell m = *map;
    g_stack.top = mark;
    return stack_push(&m);
}

bool os_get_env(const char* name, std::string* value) {
    const char* v = std::getenv(name);
    if (!v) return false;
    if (value) *value = v;
    return true;
}

bool os_set_env(const char* name, const char* value) {
    if (!name || !*name || std::strchr(name, '=')) return false;
    if (value) return setenv(name, value, 1) == 0;
    return unsetenv(name) == 0;
}

// ---- os-info --------------------------------------------------------------------------------------------

const char* os_arch_name(const char* m) {
    auto is = [&](const char* s) { return std::strcmp(m, s) == 0; };
    if (is("x86_64") || is("amd64")) return "x86-64";
    if (is("i386") || is("i486") || is("i586") || is("i686") || is("x86")) return "x86-32";
    if (is("aarch64") || is("arm64")) return "ARM64";
    if (std::strncmp(m, "arm", 3) == 0) return "ARM";
    if (is("ia64")) return "IA-64";
    return "Unknown";
}

void os_release_numbers(const char* release, u32 out[3]) {
    out[0] = out[1] = out[2] = 0;
    const char* p = release;
    for (int k = 0; k < 3; k++) {
        if (*p < '0' || *p > '9') break;
        u32 n = 0;
        while (*p >= '0' && *p <= '9') {
            if (n < 1000) n = n * 10 + static_cast<u32>(*p - '0');
            p++;
        }
        out[k] = n > 255 ? 255 : n;
        if (*p != '.') break;
        p++;
    }
}

i32 os_build_number(const char* version) {
    const char* p = std::strchr(version, '#');
    if (!p) return 0;
    p++;
    i64 n = 0;
    bool any = false;
    while (*p >= '0' && *p <= '9') {
        any = true;
        if (n < 0x7FFFFFFF) n = n * 10 + (*p - '0');
        p++;
    }
    if (!any) return 0;
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<i32>(n);
}

OsInfo os_info_read() {
    OsInfo info;
    struct utsname u;
    if (uname(&u) != 0) {
        info.name = HOST_PLATFORM_NAME;
        info.arch = "Unknown";
        info.version[0] = info.version[1] = info.version[2] = 0;
        info.build = 0;
        return info;
    }
    info.name = std::string(u.sysname) + " " + u.release;
    info.arch = os_arch_name(u.machine);
    os_release_numbers(u.release, info.version);
    info.build = os_build_number(u.version);
    return info;
}

ValueCell* os_info() {
    OsInfo info = os_info_read();
    ValueCell* obj = stack_push_cell();
    object_make_at(obj, 4);
    auto field = [&](const char* name, const ValueCell* value) {
        ValueCell v = *value;
        ValueCell* held = stack_push(&v);
        ValueCell w;
        word_make_at(symbol_make(name), &w);
        context_add_word_value(context_cell(context_of(obj)), &w, held);
        stack_pop(1);
    };
    ValueCell* name = string_load_lenient_push(info.name.data(), info.name.size());
    field("name", name);
    stack_pop(1);
    ValueCell arch;
    word_make_at(symbol_make(info.arch.c_str()), &arch);
    field("arch", &arch);
    u8 bytes[3] = {static_cast<u8>(info.version[0]), static_cast<u8>(info.version[1]),
                   static_cast<u8>(info.version[2])};
    ValueCell version;
    tuple_make_at(&version, bytes, 3);
    field("version", &version);
    ValueCell build;
    integer_box(&build, info.build);
    field("build", &build);
    return obj;
}

// ---- checks ------------------------------------------------------------------------------------------------

void ensure_value_type(const ValueCell* value, u32 expected_type) {
    if (value->type() == expected_type) return;
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    fire(Err::script_invalid_arg, held);
}

}  // namespace zan
