// Every routine entry of the system, registered by name. The names are the
// ones the module files give to boot-routine.
#include "boot/routine_registry.h"

#include "console/console_routines.h"
#include "gui/terminal/tui_routines.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/routine.h"
#include "runtime/io/codecs/csv_fast.h"
#include "runtime/io/codecs/json_fast.h"
#include "runtime/io/codecs/json_unescape.h"
#include "runtime/io/host/routines_system.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan {

void boot_register_routines() {
    // Exiting, quiet setters, shifts, directories, os-info, tuples, stacks,
    // standard output, the type predicates and the collector's routines.
    routines_system_register();
    // The ZANBIN codec.
    routine_table_register("zanbin-encode*", zanbin_routine_encode_star);
    routine_table_register("zanbin-decode", zanbin_routine_decode);
    // The image codecs.
    image_routines_register();
    // The JSON reader's escape decoder and fast path.
    routine_table_register("json-unescape", json_routine_unescape);
    routine_table_register("json-fast-decode", json_routine_fast_decode);
    routine_table_register("json-fast-encode", json_routine_fast_encode);
    // The CSV reader's and writer's fast paths.
    routine_table_register("csv-fast-decode", csv_routine_fast_decode);
    routine_table_register("csv-fast-encode", csv_routine_fast_encode);
    // The console: the line editor, the line reader and the console init.
    console_routines_register();
    // The text-mode back end of the view.
    gui::tui_routines_register();
    // The start-up code's own.
    boot_routines_register();
}

}  // namespace zan
