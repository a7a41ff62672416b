#include "runtime/core/utf8_bulk.h"

#include <emmintrin.h>

#include <cstring>

namespace zan {

namespace {

constexpr u32 REPLACEMENT = 0xFFFD;

inline u32 load_unaligned_mask(const u8* p) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<u32>(_mm_movemask_epi8(v));
}

// The ASCII bytes from p[in] (itself ASCII) up to the next other byte,
// sixteen at a time when there are sixteen left.
inline size_t ascii_step(const u8* p, size_t in, size_t n) {
    if (in + 16 > n) return 1;
    u32 mask = load_unaligned_mask(p + in);
    return mask ? static_cast<size_t>(__builtin_ctz(mask)) : 16;
}

inline bool continuation(u8 c) { return (c & 0xC0) == 0x80; }

// One sequence of the strict rules at p, n > 0 bytes left, p[0] >= 0x80:
// its length, or 0 when it is invalid, or -1 when it is cut; *cp its value.
inline int strict_sequence(const u8* p, size_t n, u32* cp) {
    u32 b = p[0];
    int len;
    u32 v;
    if (b >= 0xC0 && b <= 0xDF) {
        len = 2;
        v = b - 0xC0;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        v = b - 0xE0;
    } else if (b >= 0xF0 && b <= 0xF7) {
        len = 4;
        v = b - 0xF0;
    } else {
        return 0;
    }
    if (n < static_cast<size_t>(len)) return -1;
    for (int i = 1; i < len; i++) {
        u8 c = p[i];
        if (!continuation(c)) return 0;
        v = v << 6 | (c - 0x80u);
    }
    if ((len == 3 && v >= 0xDC00 && v <= 0xDCFF) || v > 0x10FFFF) return 0;
    *cp = v;
    return len;
}

// The range the second byte of a sequence led by b must lie in, for the
// lenient rules; lo > hi when b leads none.
inline void second_range(u8 b, u8* lo, u8* hi, int* len) {
    *lo = 0x80;
    *hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        *len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        *len = 3;
        if (b == 0xE0) *lo = 0xA0;
        if (b == 0xED) *hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        *len = 4;
        if (b == 0xF0) *lo = 0x90;
        if (b == 0xF4) *hi = 0x8F;
    } else {
        *len = 0;
    }
}

// One step of the lenient rules at p, n > 0 bytes left, p[0] >= 0x80:
// the bytes taken and *cp the code point (U+FFFD for an invalid part), or
// 0 when a valid beginning is cut by the end (never when final).
inline size_t lenient_sequence(const u8* p, size_t n, bool final, u32* cp) {
    u8 lo, hi;
    int len;
    second_range(p[0], &lo, &hi, &len);
    *cp = REPLACEMENT;
    if (!len) return 1;
    u32 v = p[0] & (0x7Fu >> len);
    for (int i = 1; i < len; i++) {
        if (static_cast<size_t>(i) >= n) return final ? static_cast<size_t>(i) : 0;
        u8 c = p[i];
        if (i == 1 ? (c < lo || c > hi) : !continuation(c)) return static_cast<size_t>(i);
        v = v << 6 | (c - 0x80u);
    }
    *cp = v;
    return static_cast<size_t>(len);
}

template <u32 U>
inline void put(u8* out, size_t i, u32 cp) {
    if constexpr (U == 1) {
        out[i] = static_cast<u8>(cp);
    } else if constexpr (U == 2) {
        u16 v = static_cast<u16>(cp);
        std::memcpy(out + 2 * i, &v, 2);
    } else {
        std::memcpy(out + 4 * i, &cp, 4);
    }
}

// Stores sixteen bytes as units U at d.
template <u32 U>
inline void put16(u8* d, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    if constexpr (U == 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), hi);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(hi, zero));
    }
}

// A sequence the strict walk took whole: its lead byte says its length.
inline size_t valid_sequence(const u8* p, u32* cp) {
    u32 b = p[0];
    if (b < 0xE0) {
        *cp = (b & 0x1F) << 6 | (p[1] & 0x3Fu);
        return 2;
    }
    if (b < 0xF0) {
        *cp = (b & 0x0F) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
        return 3;
    }
    *cp = (b & 0x07) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    return 4;
}

// Decodes n bytes into units U at out, of which there are cap: ASCII
// sixteen bytes at a time where sixteen units fit, every other sequence
// by seq. With unit 1, out may lie at or before p in the same buffer.
template <u32 U, class Seq>
void decode_run(const u8* p, size_t n, u8* out, size_t cap, Seq seq) {
    size_t in = 0, o = 0;
    while (in < n) {
        u32 b = p[in];
        if (b >= 0x80) {
            u32 cp;
            in += seq(p + in, n - in, &cp);
            put<U>(out, o++, cp);
            continue;
        }
        if (in + 16 <= n && o + 16 <= cap) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + in));
            u32 mask = static_cast<u32>(_mm_movemask_epi8(v));
            size_t k = mask ? static_cast<size_t>(__builtin_ctz(mask)) : 16;
            if constexpr (U == 1) {
                if (out + o != p + in) std::memmove(out + o, p + in, k);
            } else {
                put16<U>(out + o * U, v);
            }
            in += k;
            o += k;
            continue;
        }
        put<U>(out, o++, b);
        in++;
    }
}

template <u32 U>
void decode_strict(const u8* p, size_t n, u8* out, size_t cap) {
    decode_run<U>(p, n, out, cap,
                  [](const u8* q, size_t, u32* cp) { return valid_sequence(q, cp); });
}

template <u32 U>
void decode_lenient(const u8* p, size_t n, u8* out, size_t cap) {
    decode_run<U>(p, n, out, cap, [](const u8* q, size_t left, u32* cp) {
        return lenient_sequence(q, left, true, cp);
    });
}

}  // namespace

Utf8Measure utf8_measure_strict(const u8* p, size_t n) {
    Utf8Measure m;
    size_t in = 0, count = 0;
    u32 widest = 0;
    while (in < n) {
        if (p[in] < 0x80) {
            size_t k = ascii_step(p, in, n);
            in += k;
            count += k;
            continue;
        }
        u32 cp = 0;
        int len = strict_sequence(p + in, n - in, &cp);
        if (len <= 0) {
            m.stop = len == 0 ? Utf8Measure::INVALID : Utf8Measure::CUT;
            break;
        }
        if (cp > widest) widest = cp;
        count++;
        in += static_cast<size_t>(len);
    }
    m.used = in;
    m.count = count;
    m.widest = widest;
    return m;
}

void utf8_decode_strict(const u8* p, size_t n, u8* out, size_t count, u32 unit) {
    switch (unit) {
        case 1: decode_strict<1>(p, n, out, count); return;
        case 2: decode_strict<2>(p, n, out, count); return;
        default: decode_strict<4>(p, n, out, count); return;
    }
}

Utf8Measure utf8_measure_lenient(const u8* p, size_t n, bool final) {
    Utf8Measure m;
    size_t in = 0, count = 0;
    u32 widest = 0;
    while (in < n) {
        if (p[in] < 0x80) {
            size_t k = ascii_step(p, in, n);
            in += k;
            count += k;
            continue;
        }
        u32 cp;
        size_t len = lenient_sequence(p + in, n - in, final, &cp);
        if (!len) {
            m.stop = Utf8Measure::CUT;
            break;
        }
        if (cp > widest) widest = cp;
        count++;
        in += len;
    }
    m.used = in;
    m.count = count;
    m.widest = widest;
    return m;
}

void utf8_decode_lenient(const u8* p, size_t n, u8* out, size_t count, u32 unit) {
    switch (unit) {
        case 1: decode_lenient<1>(p, n, out, count); return;
        case 2: decode_lenient<2>(p, n, out, count); return;
        default: decode_lenient<4>(p, n, out, count); return;
    }
}

}  // namespace zan
