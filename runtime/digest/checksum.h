// The checksum methods behind the `checksum` native: CRC-32, Adler-32 and
// the TCP/IP checksum computed here, and the MD5, SHA-1, SHA-256, SHA-384 and
// SHA-512 digests with their HMAC form computed through the cryptographic
// service. CRC-32 and Adler-32 also serve the zlib and gzip framings.
//
// Nothing here raises: every routine that can fail returns a ChecksumStatus,
// and the native turns a status other than ok into the language error that
// checksum_status_error names.
#pragma once
#include <cstddef>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/digest/crypto_service.h"

namespace zan {

// ---------------------------------------------------------------- sums

// CRC-32 (reflected polynomial EDB88320h, register preset and result
// inverted). crc32_update continues from an earlier result: crc32_update(0,
// ...) is crc32_compute, and feeding data in pieces gives the same value as
// feeding it whole.
u32 crc32_compute(const u8* bytes, size_t count);
u32 crc32_update(u32 crc, const u8* bytes, size_t count);

// Adler-32 (1 for empty data). adler32_update continues from an earlier
// result: adler32_update(1, ...) is adler32_compute.
u32 adler32_compute(const u8* bytes, size_t count);
u32 adler32_update(u32 adler, const u8* bytes, size_t count);

// The TCP/IP checksum: the ones' complement of the ones' complement sum of
// the data read as big-endian 16-bit words. A trailing odd byte is added as
// it is, as the low half of a final word (01h alone gives FFFEh).
u16 tcp_checksum(const u8* bytes, size_t count);

// -------------------------------------------------------------- methods

// The method words, in the order they are made at start-up.
enum class ChecksumMethod : u8 { tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash };
constexpr int CHECKSUM_METHOD_COUNT = 9;

// Method codes; adler32 and hash have none (CHECKSUM_NO_CODE).
constexpr int CHECKSUM_CODE_TCP = 0;
constexpr int CHECKSUM_CODE_CRC32 = 1;
constexpr int CHECKSUM_CODE_MD5 = 2;
constexpr int CHECKSUM_CODE_SHA1 = 3;
constexpr int CHECKSUM_CODE_SHA256 = 4;
constexpr int CHECKSUM_CODE_SHA384 = 5;
constexpr int CHECKSUM_CODE_SHA512 = 6;
constexpr int CHECKSUM_NO_CODE = -1;

// The method's code (CHECKSUM_CODE_...), or CHECKSUM_NO_CODE.
int checksum_method_code(ChecksumMethod m);
// Digest size in bytes by code: 16, 20, 32, 48, 64 for codes 2..6, else 0.
u32 digest_size(int code);

// Makes the nine method words once at start-up: make_word is given each
// name and returns the canonical symbol id of its word. The native then
// looks methods up by the canonical symbol of its argument.
using ChecksumWordMaker = u32 (*)(const char* name);
void checksum_init(ChecksumWordMaker make_word);
// Whether the canonical symbol is one of the method words. For a caller
// that only tests a word (a dialect checking its argument); the checksum
// native asks checksum_method_of_symbol, which also gives the method.
bool checksum_method_q(u32 symbol);
bool checksum_method_of_symbol(u32 symbol, ChecksumMethod* out);

// --------------------------------------------------------------- status

enum class ChecksumStatus : u8 {
    ok,
    invalid_arg,         // not a digest code / not a method
    invalid_refine_arg,  // /with where the method cannot use it, or missing
    crypto_failed,       // the cryptographic service failed
};

// The catalogued error a status stands for: `script` `invalid-arg`,
// `script` `invalid-refine-arg`, and for a failed computation `internal`
// `feature-na` (the service cannot give the digest). Not for ok.
Err checksum_status_error(ChecksumStatus s);

// ------------------------------------------------------------- digests

struct DigestValue {
    u8 bytes[DIGEST_MAX_SIZE];
    u32 size;  // bytes used
};

// The digest of the bytes for a digest code (2..6). A code outside 2..6
// gives invalid_arg; a failure of the service gives crypto_failed. out is
// written only on ok.
ChecksumStatus crypto_digest(const u8* bytes, size_t count, int code, DigestValue* out);

// HMAC (RFC 2104) of the data with the key, for a digest code: block size
// 128 bytes for SHA-384 and SHA-512, 64 otherwise; a key longer than the
// block is replaced by its digest.
ChecksumStatus hmac_compute(const u8* data, size_t data_length, const u8* key,
                            size_t key_length, int code, DigestValue* out);

// ------------------------------------------------- the native's core

// The /with argument: absent, a key (a string as UTF-8, or a binary's bytes
// from its index), or an integer.
enum class WithKind : u8 { none, key, integer };

struct ChecksumWith {
    WithKind kind = WithKind::none;
    const u8* key_bytes = nullptr;
    size_t key_length = 0;
    i32 integer = 0;  // the hash table size asked for
};

struct ChecksumResult {
    bool is_binary = false;  // digest or HMAC in `digest`; otherwise `integer`
    u32 integer = 0;         // the 32 bits of the integer! result
    DigestValue digest{};
    // A line the native prints to the console before it answers, or null.
    const char* notice = nullptr;
};

// The line printed when /with is given an integer.
extern const char* const CHECKSUM_HASH_NOTICE;

// Everything the `checksum` native does once it has the data's bytes and
// the method: /with with crc32, tcp or adler32 -> invalid_refine_arg;
// without /with crc32, tcp and adler32 give an integer, hash gives
// invalid_refine_arg, the digests a binary; with a key, hash gives
// invalid_refine_arg and the digests the HMAC; with an integer, hash and
// the digests give the integer 0 and the notice. out is meaningful only on ok.
ChecksumStatus checksum_compute(ChecksumMethod method, const u8* data, size_t count,
                                const ChecksumWith& with, ChecksumResult* out);

}  // namespace zan
