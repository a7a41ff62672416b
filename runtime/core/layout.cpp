#include "runtime/core/layout.h"

#include <cstring>

namespace zan {

u32 type_id_of_name(const char* name) {
    for (u32 t = 1; t <= TYPE_LAST; t++)
        if (std::strcmp(kTypeDecls[t].name, name) == 0) return t;
    return 0;
}

}  // namespace zan
