#include "runtime/io/host/clipboard.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/host/process_runner.h"
#include "runtime/io/host/simple_io.h"
#include "runtime/image/codecs.h"

namespace zan {

namespace {

constexpr const char* kTextType = "text/plain;charset=utf-8";
constexpr const char* kFilesType = "text/uri-list";
constexpr const char* kPngType = "image/png";

enum class Backend { WAYLAND, X11, IN_PROCESS };

// What the in-process clipboard holds.
struct LocalClip {
    enum Kind { EMPTY, TEXT, FILES, IMAGE } kind = EMPTY;
    std::string text;  // the text, or the PNG bytes of an image
    std::vector<std::string> paths;
};
LocalClip g_local;

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

Backend backend() {
    if (env_set("WAYLAND_DISPLAY") && process_on_path("wl-copy") && process_on_path("wl-paste"))
        return Backend::WAYLAND;
    if (env_set("DISPLAY") && process_on_path("xclip")) return Backend::X11;
    return Backend::IN_PROCESS;
}

// Runs a helper program with input; its output. False when it cannot run
// or fails.
bool helper(const std::vector<std::string>& argv, const std::string& input, std::string* output) {
    ProcessRun run;
    run.argv = argv;
    run.wait = true;
    run.input.kind = ProcessStream::BYTES;
    run.input.bytes = input;
    // xclip stays behind to serve the selection: its output streams must
    // not be pipes the runner waits on, unless the output is wanted.
    if (output) run.output.kind = ProcessStream::BYTES;
    if (process_run(run) != 0) return false;
    if (output) *output = run.output.bytes;
    return true;
}

bool get(Backend b, const std::string& type, std::string* data);

bool hand_over(Backend b, const std::string& type, const std::string& data) {
    if (b == Backend::WAYLAND) return helper({"wl-copy", "--type", type}, data, nullptr);
    // X names UTF-8 text UTF8_STRING; that is what other programs ask for.
    return helper({"xclip", "-selection", "clipboard", "-t", type, "-i"}, data, nullptr);
}

// Puts data on the clipboard. The helper leaves a process of its own to
// serve it, which takes the clipboard over a moment later: the write waits
// (a second at most) until the clipboard gives the data back, so that a
// read right after it sees what was written.
bool put(Backend b, const std::string& type, const std::string& data) {
    std::string target = b == Backend::X11 && type == kTextType ? "UTF8_STRING" : type;
    if (!hand_over(b, target, data)) return false;
    for (int i = 0; i < 50; i++) {
        std::string now;
        if (get(b, target, &now) && now == data) break;
        usleep(20000);
    }
    return true;
}

// The types the clipboard offers, or false when nothing owns it.
bool types(Backend b, std::vector<std::string>* out) {
    std::string list;
    bool ok = b == Backend::WAYLAND
                  ? helper({"wl-paste", "--list-types"}, "", &list)
                  : helper({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}, "", &list);
    if (!ok) return false;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        out->push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool get(Backend b, const std::string& type, std::string* data) {
    if (b == Backend::WAYLAND) return helper({"wl-paste", "--no-newline", "--type", type}, "", data);
    return helper({"xclip", "-selection", "clipboard", "-o", "-t", type}, "", data);
}

bool offers(const std::vector<std::string>& list, const char* type) {
    for (const std::string& t : list)
        if (t == type) return true;
    return false;
}

ValueCell* push_text(const std::string& text) {
    return string_load_lenient_push(text.data(), text.size());
}

ValueCell* push_files(const std::vector<std::string>& paths) {
    ValueCell* blk = block_push_new(static_cast<u32>(paths.size()) + 1);
    for (const std::string& p : paths) {
        ValueCell* f = file_load(reinterpret_cast<const u8*>(p.data()), static_cast<u32>(p.size()));
        block_append_cell(blk, f);
        g_stack.top = blk + 1;
    }
    return blk;
}

// An image from encoded bytes; false when they do not decode.
ValueCell* push_image(const std::string& bytes) {
    DecodedImage d;
    if (!image_decode(reinterpret_cast<const u8*>(bytes.data()), bytes.size(), d))
        return logic_push(false);
    return image_push_adopted(d.width, d.height, d.take());
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string clipboard_uri_list(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& p : paths) {
        out += "file://";
        for (unsigned char c : p) {
            u32 n;
            out += c == '/' ? "/" : url_encode_char(URL_UNRESERVED, c, &n);
        }
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> clipboard_paths_of(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line.compare(0, 7, "file://") != 0) continue;
        // file://host/path: the path starts at the first "/" after the host.
        size_t slash = line.find('/', 7);
        if (slash == std::string::npos) continue;
        std::string path;
        for (size_t i = slash; i < line.size(); i++) {
            int h = i + 2 < line.size() && line[i] == '%' ? hex_value(line[i + 1]) : -1;
            int l = h >= 0 ? hex_value(line[i + 2]) : -1;
            if (l >= 0) {
                path.push_back(static_cast<char>(h * 16 + l));
                i += 2;
            } else {
                path.push_back(line[i]);
            }
        }
        out.push_back(path);
    }
    return out;
}

ValueCell* clipboard_read() {
    Backend b = backend();
    if (b == Backend::IN_PROCESS) {
        if (g_local.kind == LocalClip::TEXT) return push_text(g_local.text);
        if (g_local.kind == LocalClip::FILES) return push_files(g_local.paths);
        if (g_local.kind == LocalClip::IMAGE) return push_image(g_local.text);
        return none_push();
    }
    std::vector<std::string> offered;
    // Nothing owning the clipboard reads as empty.
    if (!types(b, &offered)) return none_push();
    std::string data;
    if (offers(offered, kFilesType)) {
        if (!get(b, kFilesType, &data)) return logic_push(false);
        return push_files(clipboard_paths_of(data));
    }
    for (const char* t : {"UTF8_STRING", kTextType, "text/plain", "STRING", "TEXT"}) {
        if (!offers(offered, t)) continue;
        if (!get(b, t, &data)) return logic_push(false);
        // An emptied clipboard of the desktop holds empty text.
        return data.empty() ? none_push() : push_text(data);
    }
    for (const char* t : {kPngType, "image/jpeg", "image/gif", "image/bmp", "image/tiff"}) {
        if (!offers(offered, t)) continue;
        if (!get(b, t, &data)) return logic_push(false);
        return push_image(data);
    }
    return none_push();
}

bool clipboard_write(ValueCell* value) {
    u32 t = value->type();
    std::string text;
    std::vector<std::string> paths;
    if (t == TYPE_STRING) {
        io_value_bytes(text, value, -1);
    } else if (t == TYPE_BLOCK) {
        i32 n = block_length(value);
        i32 at = series_index(value) < 0 ? 0 : series_index(value);
        for (i32 i = 0; i < n; i++) {
            ValueCell e = *block_cell_at(value, static_cast<u32>(at + i));
            ValueCell* held = stack_push(&e);
            if (e.type() != TYPE_FILE) fire(Err::script_invalid_arg, held);
            ValueCell* full = string_push_new(static_cast<u32>(string_length(held)) + 64);
            file_to_local(held, full, true);
            std::string p;
            io_value_bytes(p, full, -1);
            paths.push_back(p);
            g_stack.top = held;
        }
    } else if (t == TYPE_IMAGE) {
        // An image without pixels writes nothing and succeeds.
        const u32* words = image_words(value);
        if (!words) return true;
        std::vector<u8> png;
        if (!image_encode(words, image_width(value), image_height(value), IMG_PNG, png)) return false;
        text.assign(png.begin(), png.end());
    } else if (t != TYPE_NONE) {
        ValueCell v = *value;
        fire(Err::script_invalid_arg, stack_push(&v));
    }
    Backend b = backend();
    if (b == Backend::IN_PROCESS) {
        g_local = {};
        if (t == TYPE_STRING) g_local.kind = LocalClip::TEXT, g_local.text = text;
        if (t == TYPE_BLOCK) g_local.kind = LocalClip::FILES, g_local.paths = paths;
        if (t == TYPE_IMAGE) g_local.kind = LocalClip::IMAGE, g_local.text = text;
        return true;
    }
    if (t == TYPE_NONE) {
        if (b == Backend::WAYLAND) return helper({"wl-copy", "--clear"}, "", nullptr);
        return put(b, kTextType, "");
    }
    if (t == TYPE_STRING) return put(b, kTextType, text);
    if (t == TYPE_IMAGE) return put(b, kPngType, text);
    return put(b, kFilesType, clipboard_uri_list(paths));
}

}  // namespace zan
