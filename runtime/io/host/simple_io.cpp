// Files and directories on POSIX: descriptors, whole-file reads and writes,
// directory listings, removal, modification times and renaming, and the
// dispatchers that the file! actions call.
#include "runtime/io/host/simple_io.h"

#include "runtime/io/host/http_client.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/typesystem/host_io.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/io/host/file_replace.h"

namespace zan {

namespace {

// Closes a descriptor when the scope ends, also when an error unwinds it.
struct FdGuard {
    int fd;
    explicit FdGuard(int f) : fd(f) {}
    ~FdGuard() {
        if (fd >= 0) io_close_file(fd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
};

bool text_type_q(u32 t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
           t == TYPE_EMAIL || t == TYPE_REF;
}

// The UTF-8 text of a text value from its index, whole.
std::string text_of(const ValueCell* value) {
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    i32 len = -1;
    char* p = unicode_to_utf8(held, &len);
    std::string s(p, static_cast<size_t>(len));
    stack_pop(1);
    return s;
}

// The system's words for an errno value, pushed as a string!.
ValueCell* push_reason(int err) {
    const char* reason = std::strerror(err ? err : EIO);
    return string_load_push(reason, static_cast<u32>(std::strlen(reason)), 0);
}

// access error cannot-open with the file and, when err is not 0, the
// system's reason.
[[noreturn]] void fire_cannot_open(const ValueCell* file, int err) {
    ValueCell f = file ? *file : g_none_cell;
    ValueCell* held = stack_push(&f);
    if (err == 0) fire(Err::access_cannot_open, held);
    ValueCell* text = push_reason(err);
    fire(Err::access_cannot_open, held, text);
}

// access error write-failed with the file and the system's reason.
[[noreturn]] void fire_write_failed(const ValueCell* file, int err) {
    ValueCell f = file ? *file : g_none_cell;
    ValueCell* held = stack_push(&f);
    ValueCell* text = push_reason(err);
    fire(Err::access_write_failed, held, text);
}

// The integer of a /part or /seek argument; another type raises
// invalid-refine-arg with the refinement and the value.
i64 refinement_integer(const ValueCell* arg, const char* refinement) {
    if (arg->type() != TYPE_INTEGER) {
        ValueCell a = *arg;
        ValueCell* held = stack_push(&a);
        ValueCell r;
        cell_init(&r, TYPE_REFINEMENT, 0, symbol_make(refinement), static_cast<u32>(-1));
        ValueCell* ref = stack_push(&r);
        fire(Err::script_invalid_refine_arg, ref, held);
    }
    return integer_get(arg);
}

// A string! decoded from UTF-8, pushed. Bytes that are not UTF-8 raise
// access error invalid-utf8; so does a sequence cut by the end of the
// bytes, unless may_cut says the bytes were cut there on purpose (/part),
// in which case the partial character is left out.
ValueCell* load_text(const u8* bytes, size_t n, bool may_cut) {
    ValueCell* s = stack_push_cell();
    string_make_at(s, n ? static_cast<u32>(n) : 1u);
    u32 left = 0;
    unicode_load_utf8_into(ByteSource(bytes), static_cast<u32>(n), s, &left);
    series_set_index(s, 0);
    if (left && !may_cut) {
        ValueCell* rest = binary_load(ByteSource(bytes + n - left), left);
        fire(Err::access_invalid_utf8, rest);
    }
    return s;
}

// The most cells a block made for lines gets before it grows on its own.
constexpr size_t IO_MAX_LINES = 0x7FFFFFF;

// Splits bytes into lines at LF, a CR right before the LF dropped; a last
// line without LF is kept, an LF at the very end starts no further line.
// Every value made here stays reachable from the block, so there is
// nothing to collect until it is done: collecting as it grows would scan
// the lines made so far again and again, and the time would grow with the
// square of the file's size. (The bytes may lie in a series: they are
// read again once the block is made, and nothing moves after that.)
ValueCell* push_lines(ByteSource src, size_t n, bool may_cut) {
    size_t count = 1;
    const u8* bytes = src.ptr();
    for (size_t i = 0; i < n; i++) count += bytes[i] == '\n';
    ValueCell* blk = block_push_new(static_cast<u32>(count < IO_MAX_LINES ? count : IO_MAX_LINES));
    GcHold hold;
    bytes = src.ptr();
    size_t start = 0;
    for (size_t i = 0; i <= n; i++) {
        bool end = i == n;
        if (!end && bytes[i] != '\n') continue;
        if (end && start == n) break;
        size_t stop = i;
        if (!end && stop > start && bytes[stop - 1] == '\r') stop--;
        ValueCell* line = load_text(bytes + start, stop - start, end && may_cut);
        block_append_cell(blk, line);
        stack_pop(1);
        start = i + 1;
    }
    return blk;
}

}  // namespace

ValueCell* io_push_content(const u8* data, size_t n, bool binary, bool lines, bool may_cut) {
    if (binary) return binary_load(ByteSource(data), static_cast<u32>(n));
    if (lines) return push_lines(ByteSource(data), n, may_cut);
    return load_text(data, n, may_cut);
}

namespace {

// The largest content a series holds.
constexpr u64 IO_MAX_CONTENT = 0x7FFFFFF0u;

// Reads a regular file of the size measured from seek, at most part bytes
// when part > 0, straight into a new byte series pushed as a binary!.
// Null, with nothing pushed, when the file cannot be read.
ValueCell* read_measured(int fd, i64 size, i64 seek, i64 part) {
    i64 want = seek < size ? size - seek : 0;
    if (part > 0 && part < want) want = part;
    if (static_cast<u64>(want) > IO_MAX_CONTENT) fire(Err::script_too_long);
    if (want > 0 && seek > 0 && !io_seek(fd, seek)) return nullptr;
    ValueCell* content = binary_push_new(static_cast<u32>(want));
    SeriesBuffer* b = series_of(content);
    // Nothing allocates while the reads fill the buffer: it stays put.
    u8* at = b->head_ptr();
    heap_region_prefault(at, static_cast<size_t>(want));
    u64 have = 0;
    while (have < static_cast<u64>(want)) {
        i64 got = io_read_data(fd, at + have, static_cast<u64>(want) - have);
        if (got < 0) {
            stack_pop(1);
            return nullptr;
        }
        if (got == 0) break;  // the file shrank meanwhile
        have += static_cast<u64>(got);
    }
    b->tail = b->head + static_cast<u32>(have);
    return content;
}

// Reads what a source of unknown size (a pipe, a device, a /proc file)
// brings, into a new byte series pushed as a binary! that grows as it
// fills. It is kept, not read again, since such a source cannot be
// rewound. With part > 0 the reading stops once the bytes wanted are
// there, so an endless source works; then the first seek bytes are
// dropped and at most part kept. Null, with nothing pushed, when the
// source cannot be read.
ValueCell* read_streamed(int fd, i64 seek, i64 part) {
    i64 limit = part > 0 ? seek + part : -1;
    ValueCell* content = binary_push_new(IO_CHUNK_SIZE);
    for (;;) {
        SeriesBuffer* b = series_of(content);
        u64 have = b->used_bytes();
        u64 want = IO_CHUNK_SIZE;
        if (limit >= 0) {
            u64 left = static_cast<u64>(limit) - have;
            if (left == 0) break;
            if (left < want) want = left;
        }
        if (b->end_ref() - b->tail < want) {
            if (have + want > IO_MAX_CONTENT) fire(Err::script_too_long);
            u64 size = std::min<u64>(std::max<u64>(u64(b->size) * 2, have + want), IO_MAX_CONTENT);
            b = series_grow(b, static_cast<u32>(size));
        }
        i64 got = io_read_data(fd, b->tail_ptr(), want);
        if (got < 0) {
            stack_pop(1);
            return nullptr;
        }
        if (got == 0) break;
        b->tail += static_cast<u32>(got);
    }
    SeriesBuffer* b = series_of(content);
    u32 used = b->used_bytes();
    u32 skip = static_cast<u64>(seek) < used ? static_cast<u32>(seek) : used;
    if (skip) std::memmove(b->head_ptr(), b->head_ptr() + skip, used - skip);
    used -= skip;
    if (part > 0 && static_cast<u64>(part) < used) used = static_cast<u32>(part);
    b->tail = b->head + used;
    return content;
}

}  // namespace

// ---- primitives -----------------------------------------------------------------------------------

namespace {

// True, with errno EINTR, when a Ctrl-C is pending: a call interrupted by
// the signal is not tried again then, nor a new one begun.
bool interrupted() {
    if (!g_interrupt_pending) return false;
    errno = EINTR;
    return true;
}

}  // namespace

int io_open_file(const char* name, u32 mode) {
    int flags = O_CLOEXEC;
    if (mode & IO_MODE_WRITE) {
        flags |= O_WRONLY | O_CREAT;
        if (!(mode & (IO_MODE_APPEND | IO_MODE_SEEK))) flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    // Opening a FIFO waits for the other end; a Ctrl-C ends the wait.
    int fd;
    do {
        fd = open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR && !interrupted());
    return fd;
}

i64 io_read_data(int fd, void* buffer, u64 count) {
    // A terminal, a pipe or a FIFO may keep a read waiting for ever: a
    // Ctrl-C ends it (the caller then takes the interruption).
    for (;;) {
        if (interrupted()) return -1;
        ssize_t n = read(fd, buffer, count);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

i64 io_write_data(int fd, const void* buffer, u64 count) {
    const u8* p = static_cast<const u8*>(buffer);
    u64 done = 0;
    while (done < count) {
        ssize_t n = write(fd, p + done, count - done);
        if (n > 0) {
            done += static_cast<u64>(n);
            continue;
        }
        if (n < 0 && errno == EINTR && !interrupted()) continue;
        return -1;
    }
    return static_cast<i64>(done);
}

i64 io_file_size(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? static_cast<i64>(st.st_size) : 0;
}

bool io_seek(int fd, i64 offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

void io_close_file(int fd) { close(fd); }

bool io_make_dir(const char* name) { return mkdir(name, 0777) == 0; }

bool io_file_exists(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 || lstat(name, &st) == 0;
}

bool io_path_exists(const char* name) {
    struct stat st;
    return stat(name, &st) == 0;
}

bool io_dir_path_q(const std::string& n) {
    auto ends = [&](const char* s) {
        size_t k = std::strlen(s);
        return n.size() >= k && n.compare(n.size() - k, k, s) == 0;
    };
    if (n.empty()) return false;
    char last = n.back();
    if (last == '/' || last == '\\') return true;
    if (n == "." || n == "..") return true;
    return ends("/.") || ends("\\.") || ends("/..") || ends("\\..");
}

bool io_dir_path_q(const ValueCell* file) { return io_dir_path_q(text_of(file)); }

// ---- whole files ------------------------------------------------------------------------------------

ValueCell* io_read_file(const char* name, i64 part, i64 seek, bool binary, bool lines) {
    collect_stress_input_read();
    int fd = io_open_file(name, IO_MODE_READ);
    if (fd < 0) return nullptr;
    FdGuard guard(fd);
    struct stat st;
    if (fstat(fd, &st) != 0) return nullptr;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    if (seek < 0) seek = 0;
    ValueCell* content;
    if (part == 0) {
        content = binary_push_new(0);
    } else {
        // A regular file is read to the size measured; nothing measured
        // means the reads say what the content is.
        i64 size = io_file_size(fd);
        content = size > 0 ? read_measured(fd, size, seek, part) : read_streamed(fd, seek, part);
        if (!content) return nullptr;
    }
    // The last character may be cut only where /part cut the content.
    bool cut = part > 0 && static_cast<u64>(binary_length(content)) == static_cast<u64>(part);
    if (binary) return content;
    if (lines) {
        SeriesBuffer* b = series_of(content);
        ValueCell* blk = push_lines(ByteSource::series(series_node(content), 0),
                                    b->used_bytes(), cut);
        ValueCell v = *blk;
        *content = v;
    } else {
        Node text = unicode_utf8_bytes_to_text(series_node(content), cut);
        cell_init(content, TYPE_STRING, 0, text, 0);
    }
    g_stack.top = content + 1;
    return content;
}

i64 io_write_file(const char* name, const void* bytes, u64 count, i64 seek, bool append) {
    if (!name) {
        i64 n = io_write_data(STDOUT_FILENO, bytes, count);
        return n < 0 ? -2 : n;
    }
    WriteOutcome done = seek >= 0 || append ? io_extend_file(name, bytes, count, seek, append)
                                            : io_replace_file(name, bytes, count);
    errno = done.error;
    if (done.status == WriteStatus::cannot_open) return -1;
    if (done.status == WriteStatus::write_failed) return -2;
    return static_cast<i64>(count);
}

// ---- dispatchers --------------------------------------------------------------------------------------

ValueCell* io_read(ValueCell* file, ValueCell* part, ValueCell* seek, bool binary, bool lines) {
    ValueCell f = *file;
    ValueCell* held = stack_push(&f);
    if (io_dir_path_q(held)) {
        ValueCell* r = io_read_dir(held);
        ValueCell v = *r;
        *held = v;
        g_stack.top = held + 1;
        return held;
    }
    i64 p = part ? refinement_integer(part, "part") : -1;
    i64 s = seek ? refinement_integer(seek, "seek") : -1;
    // A negative /part has no limit to give.
    if (p < 0) p = -1;
    std::string name = file_to_local_cstr(held);
    errno = 0;
    ValueCell* r = io_read_file(name.c_str(), p, s, binary, lines);
    if (!r) {
        interrupt_take_pending();
        fire_cannot_open(held, errno);
    }
    ValueCell v = *r;
    *held = v;
    g_stack.top = held + 1;
    return held;
}

void io_value_bytes(std::string& out, ValueCell* value, i32 limit) {
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    if (v.type() == TYPE_BINARY) {
        i32 n = binary_length(held);
        if (limit >= 0 && limit < n) n = limit;
        if (n > 0) out.append(reinterpret_cast<const char*>(binary_head_ptr(held)),
                              static_cast<size_t>(n));
    } else {
        ValueCell* text = held;
        if (v.type() != TYPE_STRING) {
            text = string_push_new(64);
            action_form_dispatch(held, text, nullptr, FORM_NO_LIMIT);
        }
        i32 len = limit >= 0 ? limit : -1;
        char* p = unicode_to_utf8(text, &len);
        out.append(p, static_cast<size_t>(len));
    }
    g_stack.top = held;
}

ValueCell* io_write(ValueCell* file, ValueCell* data, ValueCell* part, ValueCell* seek,
                    bool binary, bool append, bool lines) {
    (void)binary;  // bytes go out as they are: no line-end translation here
    ValueCell* mark = g_stack.top;
    ValueCell f = file ? *file : g_none_cell;
    ValueCell* held_file = stack_push(&f);
    ValueCell d = *data;
    ValueCell* held_data = stack_push(&d);
    i64 p = part ? refinement_integer(part, "part") : -1;
    i64 s = seek ? refinement_integer(seek, "seek") : -1;
    if (part && p < 0) {
        g_stack.top = mark;
        return unset_push();
    }
    // A /seek that is given keeps the content; a negative one writes from
    // the start.
    if (seek && s < 0) s = 0;
    std::string name;
    if (file) name = file_to_local_cstr(held_file);
    std::string bytes;
    if (lines && d.type() == TYPE_BLOCK) {
        i32 n = block_length(held_data);
        for (i32 i = 0; i < n; i++) {
            ValueCell e = *block_cell_at(held_data, static_cast<u32>(series_index(held_data) + i));
            ValueCell* elem = stack_push(&e);
            io_value_bytes(bytes, elem, -1);
            bytes.push_back('\n');
            g_stack.top = elem;
        }
    } else {
        i32 limit = -1;
        if (part) limit = p > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<i32>(p);
        io_value_bytes(bytes, held_data, limit);
    }
    i64 r = io_write_file(file ? name.c_str() : nullptr, bytes.data(), bytes.size(), s, append);
    if (r < 0) interrupt_take_pending();
    if (r == -1) fire_cannot_open(file ? held_file : nullptr, errno);
    if (r < 0) fire_write_failed(file ? held_file : nullptr, errno);
    g_stack.top = mark;
    return unset_push();
}

ValueCell* io_read_dir(ValueCell* dir) {
    ValueCell dcell = *dir;
    ValueCell* held = stack_push(&dcell);
    std::string name = file_to_local_cstr(held);
    if (!name.empty() && name.back() == '.') name.push_back('/');
    DIR* d = opendir(name.empty() ? "." : name.c_str());
    if (!d) fire_cannot_open(held, errno);
    struct DirGuard {
        DIR* d;
        ~DirGuard() { closedir(d); }
    } guard{d};
    int dfd = dirfd(d);
    std::vector<std::string> entries;
    for (;;) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) {
            if (errno != 0) fire_cannot_open(held, errno);
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string entry = e->d_name;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            // Links to directories list as directories, like the paths they
            // lead to.
            struct stat st;
            is_dir = fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (is_dir) entry.push_back('/');
        entries.push_back(std::move(entry));
    }
    ValueCell* blk = block_push_new(static_cast<u32>(entries.size()) + 1);
    for (const std::string& e : entries) {
        ValueCell* fv = file_load_local(reinterpret_cast<const u8*>(e.data()),
                                        static_cast<u32>(e.size()));
        block_append_cell(blk, fv);
        stack_pop(1);
    }
    ValueCell b = *blk;
    *held = b;
    g_stack.top = held + 1;
    return held;
}

bool io_delete(ValueCell* file) {
    if (!text_type_q(file->type())) return false;
    ValueCell f = *file;
    ValueCell* held = stack_push(&f);
    std::string name = file_to_local_cstr(held);
    bool ok = io_dir_path_q(name) ? rmdir(name.c_str()) == 0 : unlink(name.c_str()) == 0;
    stack_pop(1);
    return ok;
}

ValueCell* io_query(ValueCell* file) {
    ValueCell f = *file;
    ValueCell* held = stack_push(&f);
    std::string name = file_to_local_cstr(held);
    struct stat st;
    bool ok = stat(name.c_str(), &st) == 0;
    if (ok && !name.empty() && (name.back() == '/' || name.back() == '\\') && !S_ISDIR(st.st_mode))
        ok = false;
    tm parts{};
    time_t t = st.st_mtim.tv_sec;
    if (ok && !gmtime_r(&t, &parts)) ok = false;
    if (!ok) {
        none_box(held);
        return held;
    }
    // Milliseconds of the modification time, as nanoseconds.
    i32 nanos = static_cast<i32>(st.st_mtim.tv_nsec / 1000000 * 1000000);
    date_make_from_parts(held, parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour, parts.tm_min, parts.tm_sec, nanos);
    return held;
}

bool io_rename(ValueCell* from, ValueCell* to) {
    if (!text_type_q(from->type()) || !text_type_q(to->type())) return false;
    ValueCell a = *from;
    ValueCell* held_from = stack_push(&a);
    ValueCell b = *to;
    ValueCell* held_to = stack_push(&b);
    std::string old_name = file_to_local_cstr(held_from);
    std::string new_name = file_to_local_cstr(held_to);
    stack_pop(2);
    // An existing target is never replaced: renaming onto a file must not
    // destroy it.
    if (renameat2(AT_FDCWD, old_name.c_str(), AT_FDCWD, new_name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: test, then rename.
    if (io_file_exists(new_name.c_str())) return false;
    return rename(old_name.c_str(), new_name.c_str()) == 0;
}

// ---- installation -------------------------------------------------------------------------------------

namespace {

ValueCell* service_read(ValueCell* file, ValueCell* part, ValueCell* seek, bool binary,
                        bool lines) {
    return io_read(file, part, seek, binary, lines);
}

ValueCell* service_write(ValueCell* file, ValueCell* data, ValueCell* part, ValueCell* seek,
                         bool binary, bool append, bool lines) {
    return io_write(file, data, part, seek, binary, append, lines);
}

}  // namespace

void host_io_init() {
    g_host_io.http_request = http_request;
    g_host_io.http_failure = http_last_failure;
    g_host_io.io_read = service_read;
    g_host_io.io_write = service_write;
    g_host_io.io_delete = io_delete;
    g_host_io.io_query = io_query;
    g_host_io.io_rename = io_rename;
}

}  // namespace zan
