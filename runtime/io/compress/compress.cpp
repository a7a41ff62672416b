// The method-level interface over the codecs of this folder.
#include "runtime/io/compress/codec_internal.h"

#include <algorithm>

namespace zan {

using namespace compress_detail;

CompressStatus compress_bytes(CompressMethod method, std::span<const u8> in,
                              std::vector<u8>& out, int level) {
    out.clear();
    if (level < 0 || level > 9) return CompressStatus::invalid_level;
    switch (method) {
    case CompressMethod::lz: {
        out.resize(lz_bound(in.size()));
        size_t size = lz_encode(in.data(), in.size(), out.data(), out.size(), false);
        out.resize(size);
        break;
    }
    case CompressMethod::deflate:
        deflate_append(in.data(), in.size(), level, out);
        break;
    case CompressMethod::zlib:
        zlib_encode(in.data(), in.size(), level, out);
        break;
    case CompressMethod::gzip:
        gzip_encode(in.data(), in.size(), level, out);
        break;
    }
    return CompressStatus::ok;
}

CompressStatus decompress_into(CompressMethod method, std::span<const u8> in, OutputBuffer& out,
                               size_t max_output) {
    CompressStatus st = CompressStatus::corrupt;
    out.size = 0;
    switch (method) {
    case CompressMethod::lz: {
        std::vector<u8> v;
        st = lz_decompress(in, v, max_output);
        if (st == CompressStatus::ok) {
            if (v.size() > out.room && !out.grow(out, v.size())) return CompressStatus::too_large;
            if (!v.empty()) std::memcpy(out.data, v.data(), v.size());
            out.size = v.size();
        }
        break;
    }
    case CompressMethod::deflate: st = inflate_raw(in.data(), in.size(), out, max_output); break;
    case CompressMethod::zlib: st = zlib_decode(in.data(), in.size(), out, max_output); break;
    case CompressMethod::gzip: st = gzip_decode(in.data(), in.size(), out, max_output); break;
    }
    if (st != CompressStatus::ok) out.size = 0;
    return st;
}

size_t decompress_size_hint(CompressMethod method, std::span<const u8> in, size_t max_output) {
    if (method == CompressMethod::gzip) return gzip_size_hint(in.data(), in.size(), max_output);
    return std::min(in.size() < max_output / 4 ? in.size() * 4 : max_output, max_output);
}

CompressStatus decompress_bytes(CompressMethod method, std::span<const u8> in,
                                std::vector<u8>& out, size_t max_output) {
    CompressStatus st;
    if (method == CompressMethod::lz) {
        st = lz_decompress(in, out, max_output);
    } else {
        VectorOutput vo(out);
        st = decompress_into(method, in, vo.out, max_output);
        vo.finish();
    }
    if (st != CompressStatus::ok) {
        out.clear();
        out.shrink_to_fit();
    }
    return st;
}

}  // namespace zan
