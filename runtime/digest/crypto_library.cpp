#include "runtime/digest/crypto_library.h"

#include "runtime/core/shared_library.h"

namespace zan {

const CryptoLibrary* crypto_library() {
    return shared_library_once<CryptoLibrary>(ZAN_CRYPTO_SONAME, [](void* so, CryptoLibrary& lib) {
        return shared_library_bind(so, "EVP_MD_fetch", lib.md_fetch) &&
               shared_library_bind(so, "EVP_MD_CTX_new", lib.md_ctx_new) &&
               shared_library_bind(so, "EVP_MD_CTX_free", lib.md_ctx_free) &&
               shared_library_bind(so, "EVP_MD_CTX_get0_md", lib.md_ctx_get0_md) &&
               shared_library_bind(so, "EVP_MD_get_size", lib.md_get_size) &&
               shared_library_bind(so, "EVP_DigestInit_ex", lib.digest_init_ex) &&
               shared_library_bind(so, "EVP_DigestUpdate", lib.digest_update) &&
               shared_library_bind(so, "EVP_DigestFinal_ex", lib.digest_final_ex);
    });
}

}  // namespace zan
