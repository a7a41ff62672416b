// The cryptographic service under the digests, HMAC and the secure random
// source: a small table of entry points, filled by default from libcrypto
// (hashes) and the kernel's random source (getrandom). Every entry reports
// failure instead of leaving a caller with a result it did not compute.
#pragma once
#include <cstddef>
#include "runtime/core/cell.h"

namespace zan {

// Room every digest fits in (SHA-512).
constexpr u32 DIGEST_MAX_SIZE = 64;

enum class CryptoAlgorithm : u8 { md5, sha1, sha256, sha384, sha512 };

// Digest size in bytes of an algorithm: 16, 20, 32, 48 or 64.
u32 crypto_algorithm_size(CryptoAlgorithm alg);

// One hash computation in progress; its layout belongs to the service.
struct CryptoHash;

struct CryptoService {
    // A new computation, or null when the service cannot give one.
    CryptoHash* (*hash_create)(CryptoAlgorithm alg);
    // Adds bytes; false on failure.
    bool (*hash_data)(CryptoHash* h, const u8* bytes, size_t count);
    // Finishes: writes the digest into out (DIGEST_MAX_SIZE bytes of room)
    // and its length into *size; false on failure.
    bool (*hash_value)(CryptoHash* h, u8* out, u32* size);
    // Releases a computation (finished or not). Null is allowed.
    void (*hash_destroy)(CryptoHash* h);
    // Fills count bytes from a cryptographically secure source; false when
    // the source fails.
    bool (*random_bytes)(void* out, size_t count);
};

// Acquires the default service's algorithms once (idempotent; the default
// service calls it on its first computation). False when one of them is unavailable; the digest
// calls then report the failure.
bool crypto_init();

// The service in use.
const CryptoService& crypto_service();

}  // namespace zan
