// Digests and HMAC through the cryptographic service, the method words and
// the core of the `checksum` native.
#include <cstring>

#include "runtime/digest/checksum.h"

namespace zan {

const char* const CHECKSUM_HASH_NOTICE = "** /hash support not yet implemented; algorithm TBD.";

namespace {

constexpr const char* kMethodNames[CHECKSUM_METHOD_COUNT] = {
    "tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash",
};
constexpr int kMethodCodes[CHECKSUM_METHOD_COUNT] = {
    CHECKSUM_CODE_TCP,    CHECKSUM_CODE_MD5,    CHECKSUM_CODE_SHA1,   CHECKSUM_CODE_CRC32,
    CHECKSUM_NO_CODE,     CHECKSUM_CODE_SHA256, CHECKSUM_CODE_SHA384, CHECKSUM_CODE_SHA512,
    CHECKSUM_NO_CODE,
};

// Canonical symbols of the method words, 0 until checksum_init.
u32 g_method_symbols[CHECKSUM_METHOD_COUNT] = {};

bool is_digest_code(int code) { return code >= CHECKSUM_CODE_MD5 && code <= CHECKSUM_CODE_SHA512; }

CryptoAlgorithm algorithm_of(int code) {
    return static_cast<CryptoAlgorithm>(code - CHECKSUM_CODE_MD5);
}

// One computation over up to two pieces of data, released on every path.
ChecksumStatus digest_pieces(int code, const u8* a, size_t a_length, const u8* b,
                             size_t b_length, DigestValue* out) {
    if (!is_digest_code(code)) return ChecksumStatus::invalid_arg;
    const CryptoService& service = crypto_service();
    CryptoHash* h = service.hash_create(algorithm_of(code));
    if (!h) return ChecksumStatus::crypto_failed;
    DigestValue value{};
    bool good = service.hash_data(h, a, a_length) && service.hash_data(h, b, b_length) &&
                service.hash_value(h, value.bytes, &value.size);
    service.hash_destroy(h);
    // A service that answers with a digest of another size has not
    // computed the algorithm that was asked for.
    if (!good || value.size != digest_size(code)) return ChecksumStatus::crypto_failed;
    *out = value;
    return ChecksumStatus::ok;
}

}  // namespace

int checksum_method_code(ChecksumMethod m) {
    auto i = static_cast<unsigned>(m);
    return i < CHECKSUM_METHOD_COUNT ? kMethodCodes[i] : CHECKSUM_NO_CODE;
}

u32 digest_size(int code) {
    return is_digest_code(code) ? crypto_algorithm_size(algorithm_of(code)) : 0;
}

void checksum_init(ChecksumWordMaker make_word) {
    for (int i = 0; i < CHECKSUM_METHOD_COUNT; ++i) g_method_symbols[i] = make_word(kMethodNames[i]);
}

bool checksum_method_of_symbol(u32 symbol, ChecksumMethod* out) {
    if (symbol == 0) return false;
    for (int i = 0; i < CHECKSUM_METHOD_COUNT; ++i) {
        if (g_method_symbols[i] == symbol) {
            *out = static_cast<ChecksumMethod>(i);
            return true;
        }
    }
    return false;
}

bool checksum_method_q(u32 symbol) {
    ChecksumMethod ignored;
    return checksum_method_of_symbol(symbol, &ignored);
}

Err checksum_status_error(ChecksumStatus s) {
    switch (s) {
        case ChecksumStatus::invalid_arg: return Err::script_invalid_arg;
        case ChecksumStatus::invalid_refine_arg: return Err::script_invalid_refine_arg;
        case ChecksumStatus::crypto_failed: return Err::internal_feature_na;
        case ChecksumStatus::ok: break;
    }
    return Err::internal_not_done;
}

ChecksumStatus crypto_digest(const u8* bytes, size_t count, int code, DigestValue* out) {
    return digest_pieces(code, bytes, count, nullptr, 0, out);
}

ChecksumStatus hmac_compute(const u8* data, size_t data_length, const u8* key,
                            size_t key_length, int code, DigestValue* out) {
    if (!is_digest_code(code)) return ChecksumStatus::invalid_arg;
    const size_t block = (code == CHECKSUM_CODE_SHA384 || code == CHECKSUM_CODE_SHA512) ? 128 : 64;

    DigestValue hashed_key;
    if (key_length > block) {
        ChecksumStatus s = crypto_digest(key, key_length, code, &hashed_key);
        if (s != ChecksumStatus::ok) return s;
        key = hashed_key.bytes;
        key_length = hashed_key.size;
    }

    u8 inner_pad[128] = {};
    u8 outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (size_t i = 0; i < block; ++i) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }

    DigestValue inner;
    ChecksumStatus s = digest_pieces(code, inner_pad, block, data, data_length, &inner);
    if (s != ChecksumStatus::ok) return s;
    return digest_pieces(code, outer_pad, block, inner.bytes, inner.size, out);
}

ChecksumStatus checksum_compute(ChecksumMethod method, const u8* data, size_t count,
                                const ChecksumWith& with, ChecksumResult* out) {
    ChecksumResult result;
    const bool plain_sum = method == ChecksumMethod::crc32 || method == ChecksumMethod::tcp ||
                           method == ChecksumMethod::adler32;
    if (plain_sum) {
        if (with.kind != WithKind::none) return ChecksumStatus::invalid_refine_arg;
        switch (method) {
            case ChecksumMethod::crc32: result.integer = crc32_compute(data, count); break;
            case ChecksumMethod::tcp: result.integer = tcp_checksum(data, count); break;
            default: result.integer = adler32_compute(data, count); break;
        }
        *out = result;
        return ChecksumStatus::ok;
    }

    const int code = checksum_method_code(method);
    if (method != ChecksumMethod::hash && !is_digest_code(code)) return ChecksumStatus::invalid_arg;

    switch (with.kind) {
        case WithKind::none: {
            if (method == ChecksumMethod::hash) return ChecksumStatus::invalid_refine_arg;
            ChecksumStatus s = crypto_digest(data, count, code, &result.digest);
            if (s != ChecksumStatus::ok) return s;
            result.is_binary = true;
            break;
        }
        case WithKind::key: {
            if (method == ChecksumMethod::hash) return ChecksumStatus::invalid_refine_arg;
            ChecksumStatus s =
                hmac_compute(data, count, with.key_bytes, with.key_length, code, &result.digest);
            if (s != ChecksumStatus::ok) return s;
            result.is_binary = true;
            break;
        }
        case WithKind::integer:
            result.integer = 0;
            result.notice = CHECKSUM_HASH_NOTICE;
            break;
        default:
            return ChecksumStatus::invalid_arg;
    }
    *out = result;
    return ChecksumStatus::ok;
}

}  // namespace zan
