#include "runtime/digest/crypto_service.h"
#include "runtime/digest/crypto_service_internal.h"

#include <sys/random.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/digest/crypto_library.h"

namespace zan {

struct CryptoHash {
    EVP_MD_CTX* ctx;
};

namespace {

constexpr int kAlgorithmCount = 5;
constexpr const char* kAlgorithmNames[kAlgorithmCount] = {"MD5", "SHA1", "SHA256", "SHA384",
                                                          "SHA512"};
constexpr u32 kAlgorithmSizes[kAlgorithmCount] = {16, 20, 32, 48, 64};

// Fetched once and kept for the run.
EVP_MD* g_digests[kAlgorithmCount] = {};
bool g_init_done = false;

CryptoHash* default_hash_create(CryptoAlgorithm alg) {
    crypto_init();
    auto i = static_cast<unsigned>(alg);
    if (i >= kAlgorithmCount || !g_digests[i]) return nullptr;
    EVP_MD_CTX* ctx = crypto_library()->md_ctx_new();
    if (!ctx) return nullptr;
    if (crypto_library()->digest_init_ex(ctx, g_digests[i], nullptr) != 1) {
        crypto_library()->md_ctx_free(ctx);
        return nullptr;
    }
    return new CryptoHash{ctx};
}

bool default_hash_data(CryptoHash* h, const u8* bytes, size_t count) {
    if (!h) return false;
    if (count == 0) return true;
    return crypto_library()->digest_update(h->ctx, bytes, count) == 1;
}

bool default_hash_value(CryptoHash* h, u8* out, u32* size) {
    if (!h) return false;
    unsigned int n = 0;
    const CryptoLibrary* lib = crypto_library();
    if (lib->md_get_size(lib->md_ctx_get0_md(h->ctx)) > static_cast<int>(DIGEST_MAX_SIZE))
        return false;
    if (lib->digest_final_ex(h->ctx, out, &n) != 1) return false;
    *size = n;
    return true;
}

void default_hash_destroy(CryptoHash* h) {
    if (!h) return;
    crypto_library()->md_ctx_free(h->ctx);
    delete h;
}

// Reads from the device when the system call itself is missing.
bool urandom_bytes(u8* out, size_t count) {
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (count > 0) {
        ssize_t got = ::read(fd, out, count);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            return false;
        }
        out += got;
        count -= static_cast<size_t>(got);
    }
    ::close(fd);
    return true;
}

bool default_random_bytes(void* out, size_t count) {
    u8* p = static_cast<u8*>(out);
    while (count > 0) {
        ssize_t got = ::getrandom(p, count, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == ENOSYS) return urandom_bytes(p, count);
            return false;
        }
        p += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

const CryptoService g_crypto_default_service = {
    default_hash_create, default_hash_data, default_hash_value, default_hash_destroy,
    default_random_bytes,
};

const CryptoService* g_crypto_service = &g_crypto_default_service;

u32 crypto_algorithm_size(CryptoAlgorithm alg) {
    auto i = static_cast<unsigned>(alg);
    return i < kAlgorithmCount ? kAlgorithmSizes[i] : 0;
}

bool crypto_init() {
    if (!g_init_done) {
        g_init_done = true;
        const CryptoLibrary* lib = crypto_library();
        for (int i = 0; lib && i < kAlgorithmCount; ++i)
            g_digests[i] = lib->md_fetch(nullptr, kAlgorithmNames[i], nullptr);
    }
    for (EVP_MD* md : g_digests)
        if (!md) return false;
    return true;
}

const CryptoService& crypto_service() { return *g_crypto_service; }

}  // namespace zan
