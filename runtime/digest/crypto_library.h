// The digest functions of the system's cryptography library, loaded on the
// first digest rather than linked, so that a program that computes no digest
// does not load the library at start-up.
#pragma once
#include <openssl/evp.h>

namespace zan {

// The entry points, bound by name once the library is loaded.
struct CryptoLibrary {
    EVP_MD* (*md_fetch)(OSSL_LIB_CTX* ctx, const char* algorithm, const char* properties);
    EVP_MD_CTX* (*md_ctx_new)();
    void (*md_ctx_free)(EVP_MD_CTX* ctx);
    const EVP_MD* (*md_ctx_get0_md)(const EVP_MD_CTX* ctx);
    int (*md_get_size)(const EVP_MD* md);
    int (*digest_init_ex)(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl);
    int (*digest_update)(EVP_MD_CTX* ctx, const void* data, size_t count);
    int (*digest_final_ex)(EVP_MD_CTX* ctx, unsigned char* out, unsigned int* size);
};

// The library, or null when it cannot be loaded.
const CryptoLibrary* crypto_library();

}  // namespace zan
