// Helpers shared by the checksum and random tests.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "runtime/digest/checksum.h"
#include "runtime/digest/crypto_service.h"
#include "runtime/digest/crypto_service_internal.h"

namespace zan::test {

inline const u8* bytes_of(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }
// For literals: the pointer stays valid beyond the expression.
inline const u8* bytes_of(const char* s) { return reinterpret_cast<const u8*>(s); }

inline std::string to_hex(const u8* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

inline std::string to_hex(const DigestValue& d) { return to_hex(d.bytes, d.size); }

// Puts a replacement cryptographic service in place for one test.
class ScopedCryptoService {
public:
    explicit ScopedCryptoService(const CryptoService* s) : previous_(g_crypto_service) {
        g_crypto_service = s;
    }
    ~ScopedCryptoService() { g_crypto_service = previous_; }
    ScopedCryptoService(const ScopedCryptoService&) = delete;
    ScopedCryptoService& operator=(const ScopedCryptoService&) = delete;

private:
    const CryptoService* previous_;
};

}  // namespace zan::test
