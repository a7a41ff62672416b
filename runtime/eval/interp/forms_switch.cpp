#include "runtime/eval/interp/forms_switch.h"

#include <cstdlib>
#include <cstring>

namespace zan {

bool g_forms_off = false;

void forms_switch_read() {
    const char* v = std::getenv("ZAN_FORMS");
    g_forms_off = v && std::strcmp(v, "off") == 0;
}

}  // namespace zan
