// Start-up: the runtime, the boot image, the modules, the seal and the
// hand-over.
#include "boot/startup.h"
#include "boot/startup_internal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/boot_heap.h"
#include "boot/boot_image.h"
#include "boot/boot_util.h"
#include "boot/library_code.h"
#include "boot/process.h"
#include "boot/runtime_init.h"
#include "boot/sealed_heap.h"
#include "boot/system_hooks.h"
#include "runtime/core/collector.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/routine.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/lexer/lexer.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan {

std::vector<std::string> g_boot_module_names;

namespace {

constexpr const char* kBootRoutineSpec =
    "[\"Makes a routine from the routine table (start-up only)\" name [string!] "
    "\"Its name in the routine table\" spec [block!] body [block!] return: [routine!]]";

// The values of a text as a block!, pushed on the data stack.
ValueCell* load_text(const char* text, size_t length) {
    ValueCell* out = none_push();
    lexer_transcode(out, reinterpret_cast<const u8*>(text), static_cast<u32>(length), false,
                    true, true, 0, nullptr, nullptr, nullptr, nullptr);
    return out;
}

void set_global(const char* name, const ValueCell* value) {
    ValueCell w = *word_load(name);
    ValueCell v = *value;
    context_set(&w, &v);
}

const ValueCell* global(const char* name) { return global_value_ptr(symbol_make(name)); }

// Defines boot-routine, the module files' way to declare a routine.
void define_boot_routine() {
    ValueCell* mark = g_stack.top;
    ValueCell* specs = load_text(kBootRoutineSpec, std::strlen(kBootRoutineSpec));
    ValueCell spec = *block_head_ptr(specs);
    ValueCell r = *routine_make(&spec, nullptr, routine_table_find("boot-routine"), -1, false);
    set_global("boot-routine", &r);
    g_stack.top = mark;
}

// Outcome of evaluating something under a try frame on the evaluation
// thread.
struct Run {
    bool ok = true;
    bool failure = false;      // a BootFailure
    std::string message;
};

// Runs fn on the evaluation thread inside a try frame. A language error
// that reaches the frame is printed as an uncaught error would be.
template <class F>
Run run_guarded(F&& fn) {
    Run run;
    auto body = [&] {
        process_thread_alt_stack();
        ValueCell* top = g_stack.top;
        ValueCell* base = g_stack.base;
        CallFrame* ctop = g_stack.ctop;
        stack_mark_try(g_words.n.try_);
        try {
            fn();
        } catch (ThrowSignal& s) {
            run.ok = false;
            ValueCell raised = *stack_top_value();
            g_throw_code = 0;
            if (s.code == THROW_ERROR && raised.type() == TYPE_ERROR) {
                ValueCell* err = stack_push(&raised);
                run.message = boot_form(err);
                error_print_uncaught(err);
            } else if (s.code == THROW_ERROR) {
                run.message = boot_error_text(nullptr);
                std::fflush(stdout);
                std::fprintf(stderr, "%s\n", run.message.c_str());
            } else {
                run.message = "no CATCH for THROW (code " + std::to_string(s.code) + ")";
            }
        } catch (BootFailure& f) {
            run.ok = false;
            run.failure = true;
            run.message = f.what();
        }
        g_stack.top = top;
        g_stack.base = base;
        g_stack.ctop = ctop;
    };
    interp_run_on_big_stack([&] { body(); });
    return run;
}

// The file name part of a module's path.
std::string base_name(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string utf8_of(const ValueCell* string) {
    ValueCell s = *string;
    i32 len = -1;
    char* p = unicode_to_utf8(&s, &len);
    return std::string(p, static_cast<size_t>(len));
}

// A file! value of a local path (UTF-8), pushed.
ValueCell* file_push(const std::string& path) {
    ValueCell* f = string_load_push(path.data(), static_cast<u32>(path.size()), 0);
    cell_set_type(f, TYPE_FILE);
    return f;
}

// Runs a script without the library's do-file: the text from the first
// "Zan" followed by blanks and "[" on; the header block is skipped and the
// rest evaluated. Used only while the library has no do-file.
void run_script_directly(const std::string& path) {
    std::string text;
    if (!boot_read_file(path, &text)) {
        ValueCell* f = file_push(path);
        fire(Err::access_cannot_open, f);
    }
    size_t at = std::string::npos;
    for (size_t p = text.find("Zan"); p != std::string::npos; p = text.find("Zan", p + 1)) {
        size_t q = p + 3;
        while (q < text.size() && (text[q] == ' ' || text[q] == '\t' || text[q] == '\r' ||
                                   text[q] == '\n'))
            q++;
        if (q < text.size() && text[q] == '[') {
            at = p;
            break;
        }
    }
    if (at == std::string::npos) {
        ValueCell* f = file_push(path);
        fire(Err::syntax_no_header, f);
    }
    ValueCell* all = load_text(text.data() + at, text.size() - at);
    ValueCell code = *all;
    series_set_index(&code, 2);
    ValueCell* held = stack_push(&code);
    interp_eval_block(held, false);
}

// Runs the module at root values k (path) and k + 1 (code); false (with
// the result filled in) when it fails.
bool run_module(u32 k, BootResult* out) {
    BootResult& result = *out;
    ValueCell* name = boot_cell_at(k);
    ValueCell* code = boot_cell_at(k + 1);
    if (name->type() != TYPE_STRING || code->type() != TYPE_BLOCK) {
        result.status = BOOT_FAILURE_STATUS;
        result.message = "boot image: root value " + std::to_string(k) +
                         " is not a module (path and code)";
        return false;
    }
    std::string path = utf8_of(name);
    g_boot_module_names.push_back(path);
    ValueCell module = *code;
    Run run = run_guarded([&] { interp_eval_block(&module, false); });
    result.modules++;
    if (!run.ok) {
        result.status = run.failure ? BOOT_FAILURE_STATUS : BOOT_ERROR_STATUS;
        result.message = path + ": " + run.message;
        return false;
    }
    if (boot_module_number(base_name(path)) == 5) system_ready();
    return true;
}

// Whether the module at root value k (its path) is the process module.
bool is_process_module(u32 k) {
    ValueCell* name = boot_cell_at(k);
    return name->type() == TYPE_STRING &&
           boot_module_number(base_name(utf8_of(name))) == BOOT_PROCESS_MODULE;
}

// The modules, the seal, the process module and the removal of
// boot-routine; false (with the result filled in) when start-up cannot go
// on. What is done before the process module depends only on the build:
// when the library saved after its seal was put back (done), it is skipped;
// when the build asks for that saved form (config.save_sealed), start-up
// stops after the seal.
bool run_top_level(u32 values, const BootConfig& config, const SealedStart* done,
                   BootResult* out) {
    BootResult& result = *out;
    // The modules, in order: (path, code) pairs of root values. Reading a
    // module's name allocates, so the saved library carries where the
    // process module is.
    u32 process = done ? done->process : values;
    for (u32 k = 0; !done && k + 1 < values; k += 2) {
        if (is_process_module(k)) {
            process = k;
            continue;
        }
        if (!run_module(k, out)) return false;
    }

    // The library functions become "compiled".
    if (!done) {
        Run sealed = run_guarded([&] { result.sealed = library_seal(); });
        if (!sealed.ok) {
            result.status = BOOT_FAILURE_STATUS;
            result.message = "sealing the library: " + sealed.message;
            return false;
        }
    }
    if (config.sealed_digest) *config.sealed_digest = boot_heap_digest(values);
    if (config.save_sealed) {
        std::string error;
        SealedStart now{values, process, result.modules, result.sealed, g_boot_module_names};
        if (!sealed_heap_capture(now, config.save_sealed, &error))
            result.message = error;
        return true;
    }

    // The values of this process; then the boot-only word goes.
    if (process < values && !run_module(process, out)) return false;
    ValueCell unset;
    unset_box(&unset);
    set_global("boot-routine", &unset);

    return true;
}

// True when ZAN_GC_STRESS asks for the start-up code to be stressed too.
bool stress_covers_startup() {
    const char* stress = std::getenv("ZAN_GC_STRESS");
    return stress && std::strcmp(stress, "boot") == 0;
}

}  // namespace

void boot_prepare_runtime() {
    runtime_init();
    library_code_init();
}

BootResult boot_start(const BootConfig& config) {
    auto t0 = std::chrono::steady_clock::now();
    BootResult result;
    g_boot_module_names.clear();
    {
        std::vector<const char*> argv;
        for (const std::string& a : config.args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        host_set_command_line(static_cast<int>(config.args.size()), argv.data());
    }

    boot_prepare_runtime();

    // The image: embedded, or built from the module files.
    std::vector<u8> built;
    std::span<const u8> image = config.image;
    if (!config.library_dir.empty()) {
        std::vector<BootSourceFile> files;
        std::string error;
        if (!boot_list_sources(config.library_dir, &files, &error) ||
            !boot_build_image(files, &built, &error)) {
            result.status = BOOT_FAILURE_STATUS;
            result.message = error;
            return result;
        }
        image = built;
    }
    if (image.empty()) {
        result.status = BOOT_FAILURE_STATUS;
        result.message = "no boot image";
        return result;
    }
    // The library saved after its seal, when it fits; else the decoded
    // image (saved or decoded here) and the modules.
    ZanbinBootResult decoded;
    SealedStart saved;
    bool sealed = config.library_dir.empty() && !config.sealed_heap.empty() &&
                  !config.save_sealed && !stress_covers_startup() &&
                  sealed_heap_restore(config.sealed_heap, &saved);
    if (sealed) {
        decoded.values = saved.values;
        result.modules = saved.modules;
        result.sealed = saved.sealed;
        g_boot_module_names = saved.module_names;
    } else {
        if (config.save_sealed) sealed_heap_note_before();
        bool restored = config.library_dir.empty() && !config.saved_heap.empty() &&
                        boot_heap_restore(config.saved_heap, &decoded.values);
        if (!restored) decoded = zanbin_boot_decode(image, false);
        result.restored = restored;
        if (decoded.status != ZanbinBootStatus::ok) {
            result.status = BOOT_FAILURE_STATUS;
            result.message = zanbin_boot_status_message(decoded.status);
            if (decoded.position)
                result.message += " (record at byte " + std::to_string(decoded.position) + ")";
            return result;
        }
        if (config.save_sealed) sealed_heap_note_tracer();
        runtime_init_after_decode();
    }
    result.library_restored = sealed;

    // Stress mode collects before every allocation. The top-level code is the
    // same in every process, so it is stressed only when asked for
    // (ZAN_GC_STRESS=boot, run by one test); otherwise stress begins once
    // start-up is done, where the code under test runs.
    set_collect_stress(g_gc.stress && stress_covers_startup());

    if (!sealed) define_boot_routine();

    // The top-level code runs on the evaluation thread in one hand-over
    // (each hand-over costs a thread switch).
    bool ran = false;
    interp_run_on_big_stack(
        [&] { ran = run_top_level(decoded.values, config, sealed ? &saved : nullptr, &result); });
    set_collect_stress(g_gc.stress);
    if (!ran) return result;
    memory_note_start_up_done();

    result.microseconds = std::chrono::duration<double, std::micro>(
                              std::chrono::steady_clock::now() - t0)
                              .count();
    return result;
}

int boot_launch(const std::vector<std::string>& args) {
    Run run;
    // The launch (settings, the command line, the console's start) runs the
    // same way in every process: a stressed collector waits for the first
    // read of input, the script's file or standard input.
    if (g_gc.stress && !stress_covers_startup()) set_collect_stress_at_first_input();
    const ValueCell* console = global("cli-console-ctx");
    if (console && console->type() == TYPE_OBJECT) {
        static const char kLaunch[] = "cli-console-ctx/launch";
        run = run_guarded([&] {
            ValueCell* code = load_text(kLaunch, sizeof kLaunch - 1);
            interp_eval_block(code, false);
        });
    } else if (args.size() > 1) {
        const std::string& script = args[1];
        const ValueCell* do_file = global("do-file");
        if (do_file && do_file->type() == TYPE_FUNCTION) {
            run = run_guarded([&] {
                ValueCell* code = block_push_new(2);
                ValueCell w = *word_load("do");
                block_append_cell(code, &w);
                ValueCell f = *file_push(script);
                block_append_cell(code, &f);
                interp_eval_block(code, false);
            });
        } else {
            run = run_guarded([&] { run_script_directly(script); });
        }
    }
    if (!run.ok) return run.failure ? BOOT_FAILURE_STATUS : BOOT_ERROR_STATUS;
    return 0;
}

}  // namespace zan
