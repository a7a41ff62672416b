#include "runtime/eval/digest/crypto_library.h"

#include "runtime/core/shared_library.h"

namespace zan {

const CryptoLibrary* crypto_library() {
    static CryptoLibrary lib;
    static int state = 0;  // 0 not tried, 1 loaded, -1 unavailable
    if (state) return state > 0 ? &lib : nullptr;
    state = -1;
    void* so = shared_library_open(ZAN_CRYPTO_SONAME);
    if (!so) return nullptr;
    bool ok = shared_library_bind(so, "EVP_MD_fetch", lib.md_fetch) &&
              shared_library_bind(so, "EVP_MD_CTX_new", lib.md_ctx_new) &&
              shared_library_bind(so, "EVP_MD_CTX_free", lib.md_ctx_free) &&
              shared_library_bind(so, "EVP_MD_CTX_get0_md", lib.md_ctx_get0_md) &&
              shared_library_bind(so, "EVP_MD_get_size", lib.md_get_size) &&
              shared_library_bind(so, "EVP_DigestInit_ex", lib.digest_init_ex) &&
              shared_library_bind(so, "EVP_DigestUpdate", lib.digest_update) &&
              shared_library_bind(so, "EVP_DigestFinal_ex", lib.digest_final_ex);
    if (!ok) return nullptr;
    state = 1;
    return &lib;
}

}  // namespace zan
