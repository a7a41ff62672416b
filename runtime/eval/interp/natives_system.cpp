// The natives that reach the host: wait, now, set-env, get-env, list-env,
// call, browse, size?, to-local-file and recycle. Each converts its
// arguments, makes one call to the platform or the host I/O layer and
// shapes the result.
#include "runtime/eval/interp/natives_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/platform.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/memory_stats.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/host/process_runner.h"
#include "runtime/io/host/routines_system.h"
#include "runtime/io/host/simple_io.h"

namespace zan {

void (*g_wait_events_hook)() = nullptr;

namespace {

bool given(const i32* refs, u32 k) { return refs[k] != -1; }

// ---- wait -------------------------------------------------------------------------------------------

// wait value /all: an integer! or float! number of seconds, or a time!;
// anything else raises invalid-arg. Sleeps at least 1 ms.
void native_wait(bool, const i32*) {
    ValueCell* v = stack_arg(0);
    double seconds;
    switch (v->type()) {
        case TYPE_INTEGER: seconds = integer_get(v); break;
        case TYPE_FLOAT: seconds = float_get(v); break;
        case TYPE_TIME: seconds = time_get(v); break;
        default: fire(Err::script_invalid_arg, v);
    }
    if (!platform_wait(seconds)) interp_take_interrupt();
    if (g_wait_events_hook) g_wait_events_hook();
    none_box(stack_result());
}

// ---- now ----------------------------------------------------------------------------------------------

enum NowRef : u32 {
    NOW_YEAR, NOW_MONTH, NOW_DAY, NOW_TIME, NOW_ZONE, NOW_DATE, NOW_WEEKDAY, NOW_YEARDAY,
    NOW_PRECISE, NOW_UTC
};

void native_now(bool, const i32* refs) {
    u32 count = 0;
    for (u32 k = NOW_YEAR; k <= NOW_PRECISE; k++) count += given(refs, k) ? 1 : 0;
    bool time_precise = given(refs, NOW_TIME) && given(refs, NOW_PRECISE);
    if (count > 1 && !time_precise) fire(Err::script_bad_refines);
    bool utc = given(refs, NOW_UTC);
    bool precise = given(refs, NOW_PRECISE);
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // Whole milliseconds under /precise.
    long nanos = ts.tv_nsec / 1000000 * 1000000;
    PlatformDateTime now = platform_date_time_at(ts.tv_sec, nanos, utc, precise);
    u32 packed = static_cast<u32>(now.date);
    if (given(refs, NOW_DATE)) {
        date_box(stack_result(), packed & ~(DATE_TIME_FLAG | DATE_ZONE_MASK), 0.0);
        return;
    }
    ValueCell date;
    date_box(&date, packed, now.time);
    i32 field = 0;
    if (given(refs, NOW_YEAR)) field = DATE_FIELD_YEAR;
    else if (given(refs, NOW_MONTH)) field = DATE_FIELD_MONTH;
    else if (given(refs, NOW_DAY)) field = DATE_FIELD_DAY;
    else if (given(refs, NOW_ZONE)) field = DATE_FIELD_ZONE;
    else if (given(refs, NOW_TIME)) field = DATE_FIELD_TIME;
    else if (given(refs, NOW_WEEKDAY)) field = DATE_FIELD_WEEKDAY;
    else if (given(refs, NOW_YEARDAY)) field = DATE_FIELD_YEARDAY;
    if (!field) {
        *stack_result() = date;
        return;
    }
    ValueCell* r = date_get_field(&date, field);
    *stack_result() = *r;
}

// ---- environment --------------------------------------------------------------------------------------

// The text of a variable name or value: a word's spelling, a string's
// characters from its index as UTF-8, with the bytes get-env could not
// decode given back as they were. A NUL, which the environment cannot
// hold, raises invalid-arg with the value.
std::string env_text(ValueCell* v) {
    if (any_word_type_q(v->type())) return symbol_to_cstr(word_symbol(v));
    std::string s;
    if (!local_text_bytes(v, &s)) fire(Err::script_invalid_arg, v);
    return s;
}

// set-env var value: a string! sets the variable, none removes it; the
// result is the value. A name that the environment refuses (empty, or
// holding "=") raises invalid-arg with it.
void native_set_env(bool, const i32*) {
    ValueCell* var = stack_arg(0);
    ValueCell* value = stack_arg(1);
    std::string name = env_text(var);
    bool ok;
    if (value->type() == TYPE_NONE) {
        ok = os_set_env(name.c_str(), nullptr);
    } else {
        std::string text = env_text(value);
        ok = os_set_env(name.c_str(), text.c_str());
    }
    if (!ok) fire(Err::script_invalid_arg, var);
    *stack_result() = *value;
}

// get-env var: the value as a string!, or none when the variable is not
// set (an empty value gives an empty string). Bytes that are not UTF-8 are
// kept as file names keep them, so set-env puts back the same value.
void native_get_env(bool, const i32*) {
    std::string name = env_text(stack_arg(0));
    std::string value;
    if (!os_get_env(name.c_str(), &value)) {
        none_box(stack_result());
        return;
    }
    ValueCell* s = local_text_load(reinterpret_cast<const u8*>(value.data()),
                                   static_cast<u32>(value.size()));
    *stack_result() = *s;
}

void native_list_env(bool, const i32*) {
    ValueCell* m = os_list_env(nullptr);
    *stack_result() = *m;
}

// ---- call and browse ----------------------------------------------------------------------------------

// call cmd /wait /show /console /shell /input in /output out /error err:
// the exit status, the process id when not waiting, or -1. /show has no
// meaning here and is accepted.
void native_call(bool, const i32* refs) {
    auto arg = [&](u32 k) { return given(refs, k) ? stack_arg(static_cast<u32>(refs[k])) : nullptr; };
    i64 r = process_call(stack_arg(0), given(refs, 0), given(refs, 2), given(refs, 3), arg(4),
                         arg(5), arg(6));
    // A Ctrl-C ended the wait for the child (and the child): the command
    // stops here.
    interp_take_interrupt();
    integer_box(stack_result(), static_cast<i32>(r));
}

// browse url: hands the target to the desktop's opener without waiting.
void native_browse(bool, const i32*) {
    process_browse(stack_arg(0));
    unset_box(stack_result());
}

// ---- files ------------------------------------------------------------------------------------------------

// size? file: the size in bytes, none for a directory or a file that cannot
// be opened. A FIFO is opened without waiting for a writer. Above the range
// of integer! the size is a float!.
void native_size_q(bool, const i32*) {
    ValueCell* file = stack_arg(0);
    std::string name = file_to_local_cstr(file);
    if (io_dir_path_q(name)) {
        none_box(stack_result());
        return;
    }
    int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        none_box(stack_result());
        return;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    if (!ok) {
        none_box(stack_result());
        return;
    }
    i64 size = S_ISREG(st.st_mode) ? static_cast<i64>(st.st_size) : 0;
    if (size > 0x7FFFFFFF) float_make_at(stack_result(), static_cast<double>(size));
    else integer_box(stack_result(), static_cast<i32>(size));
}

// to-local-file path /full: a new string! with the local form of the path;
// with /full a relative path gets the current directory in front.
void native_to_local_file(bool, const i32* refs) {
    ValueCell* path = stack_arg(0);
    ValueCell* out = string_push_new(static_cast<u32>(string_length(path)) + 1);
    file_to_local(path, out, given(refs, 0));
    *stack_result() = *out;
}

// ---- recycle ----------------------------------------------------------------------------------------------

// recycle /on /off: switches the collector (result unset!), or, without
// refinements, collects and returns the bytes still in use.
void native_recycle(bool, const i32* refs) {
    bool on = given(refs, 0), off = given(refs, 1);
    if (on || off) {
        if (on) g_gc.enabled = true;
        if (off) g_gc.enabled = false;
        unset_box(stack_result());
        return;
    }
    gc_collect();
    double bytes = memory_stats(nullptr, 1);
    if (bytes > 2147483647.0) float_make_at(stack_result(), bytes);
    else integer_box(stack_result(), static_cast<i32>(bytes));
}

bool last_print_ended_line() { return g_print_last_newline; }

}  // namespace

void natives_system_init(NativeEntry* s) {
    s[NAT_WAIT - 1] = native_checked<NAT_WAIT, native_wait>;
    s[NAT_NOW - 1] = native_checked<NAT_NOW, native_now>;
    s[NAT_SET_ENV - 1] = native_checked<NAT_SET_ENV, native_set_env>;
    s[NAT_GET_ENV - 1] = native_checked<NAT_GET_ENV, native_get_env>;
    s[NAT_LIST_ENV - 1] = native_checked<NAT_LIST_ENV, native_list_env>;
    s[NAT_CALL - 1] = native_checked<NAT_CALL, native_call>;
    s[NAT_BROWSE - 1] = native_checked<NAT_BROWSE, native_browse>;
    s[NAT_SIZE_Q - 1] = native_checked<NAT_SIZE_Q, native_size_q>;
    s[NAT_TO_LOCAL_FILE - 1] = native_checked<NAT_TO_LOCAL_FILE, native_to_local_file>;
    s[NAT_RECYCLE - 1] = native_checked<NAT_RECYCLE, native_recycle>;
    // The file! actions and the routines need the host layer as soon as
    // the natives exist.
    host_io_init();
    g_last_lf_hook = last_print_ended_line;
}

}  // namespace zan
