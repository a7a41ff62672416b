// The process's surroundings: the command line as one text, the
// environment as a map!, environment variables one by one, and the
// description of the operating system that os-info returns.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// ---- the command line ---------------------------------------------------------------------
// Records the program's arguments (argv, program path first), once at
// start-up. Until it is called the arguments are read from
// /proc/self/cmdline.
void host_set_command_line(int argc, const char* const* argv);
// The recorded arguments (bytes as the system gave them).
std::vector<std::string> host_command_args();

// The arguments joined into one command line that the start-up splitting
// rule (extract-boot-args) takes apart into the same arguments: separated by
// one space, each written bare when it is not empty and holds no space, tab
// or double quote, otherwise with double quotes added where that rule drops
// them. *exact (when given) is set to false when an argument has no such
// spelling (it holds a separator that no placement of quotes protects);
// that argument is then written between plain double quotes.
std::string command_line_join(const std::vector<std::string>& args, bool* exact = nullptr);
// The splitting rule itself (the first step of extract-boot-args): spaces
// and tabs separate arguments except between double quotes, where each
// double quote toggles the mode; from each argument one leading double
// quote is dropped, and one trailing double quote unless it is that same
// leading character.
std::vector<std::string> command_line_split(const std::string& line);

// The whole command line (program path first) as a string! pushed on the
// data stack; bytes that are not UTF-8 become U+FFFD.
ValueCell* os_command_line();

// ---- environment ------------------------------------------------------------------------------
// The environment ("name=value" entries; the process's own when null) as a
// map! of name strings to value strings, pushed. The first "=" that is not
// the entry's first character separates name and value, so a name may
// begin with "="; an entry without such a "=" is a name with an empty value.
// Bytes that are not UTF-8 are kept as in file names (see local_text_load).
ValueCell* os_list_env(const char* const* environment);
// A variable's value as NUL-terminated UTF-8 in *value; false when it is
// not set (an empty value is set).
bool os_get_env(const char* name, std::string* value);
// Sets (value non-null) or removes (null) a variable; false when the system
// refuses the name (empty, or holding "=").
bool os_set_env(const char* name, const char* value);

// ---- os-info -------------------------------------------------------------------------------------
// The description of the running system, from uname.
struct OsInfo {
    std::string name;   // kernel name and release, "Linux 6.1.0-18-amd64"
    std::string arch;   // x86-32 x86-64 ARM ARM64 IA-64 Unknown
    u32 version[3];     // the first three numbers of the release
    i32 build;          // the kernel's build number (the "#N" of its version)
};
// The description of this machine (uname).
OsInfo os_info_read();
// The architecture word's name for a machine name of uname.
const char* os_arch_name(const char* machine);
// The numbers of a release text: "6.1.0-18-amd64" gives 6 1 0; absent
// numbers are 0, each one is kept within 0..255.
void os_release_numbers(const char* release, u32 out[3]);
// The build number of a version text ("#1 SMP ..." gives 1), or 0.
i32 os_build_number(const char* version);
// The os-info object! (name string!, arch word!, version tuple!, build
// integer!), pushed.
ValueCell* os_info();

// The name system/platform holds.
constexpr const char* HOST_PLATFORM_NAME = "Linux";

// ---- checks ----------------------------------------------------------------------------------------
// Raises script error invalid-arg with the value when its datatype is not
// the expected one. For host routines that take a value of one datatype
// only; the datatypes' own makers check their specs inline today.
void ensure_value_type(const ValueCell* value, u32 expected_type);

// A string! from bytes that should be UTF-8: valid text loads as it is,
// each maximal invalid part of a sequence becomes one U+FFFD, and the byte
// that broke a sequence is decoded afresh. Pushed.
ValueCell* string_load_lenient_push(const char* bytes, size_t length);

}  // namespace zan
