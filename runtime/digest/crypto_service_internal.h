// The cryptographic service's selection, shared by the file that keeps it
// and the checks that put a failing or scripted service in its place.
#pragma once
#include "runtime/digest/crypto_service.h"

namespace zan {

// libcrypto's hashes and the kernel's random source.
extern const CryptoService g_crypto_default_service;
// The service crypto_service() answers; never null.
extern const CryptoService* g_crypto_service;

}  // namespace zan
