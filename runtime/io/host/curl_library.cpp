#include "runtime/io/host/curl_library.h"

#include "runtime/core/shared_library.h"

namespace zan {

const CurlLibrary* curl_library() {
    return shared_library_once<CurlLibrary>(ZAN_CURL_SONAME, [](void* so, CurlLibrary& lib) {
        return shared_library_bind(so, "curl_global_init", lib.global_init) &&
               shared_library_bind(so, "curl_easy_init", lib.easy_init) &&
               shared_library_bind(so, "curl_easy_cleanup", lib.easy_cleanup) &&
               shared_library_bind(so, "curl_easy_setopt", lib.easy_setopt) &&
               shared_library_bind(so, "curl_easy_perform", lib.easy_perform) &&
               shared_library_bind(so, "curl_easy_getinfo", lib.easy_getinfo) &&
               shared_library_bind(so, "curl_easy_strerror", lib.easy_strerror) &&
               shared_library_bind(so, "curl_slist_append", lib.slist_append) &&
               shared_library_bind(so, "curl_slist_free_all", lib.slist_free_all) &&
               lib.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    });
}

}  // namespace zan
