#include "zlib_filter.h"

#include <zlib.h>

#include <memory>

#include "dbx_errors.h"

namespace datasnap {

std::string zlibWrap(std::string_view buffer, std::size_t threshold) {
    std::string out;
    if (buffer.size() <= threshold) {
        out.reserve(buffer.size() + 1);
        out.push_back('\x02');
        out.append(buffer);
        return out;
    }
    uLongf bound = compressBound(static_cast<uLong>(buffer.size()));
    out.resize(1 + bound);
    out[0] = '\x01';
    int rc = compress2(reinterpret_cast<Bytef *>(out.data() + 1), &bound,
                       reinterpret_cast<const Bytef *>(buffer.data()), static_cast<uLong>(buffer.size()), 1);
    if (rc != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(1 + bound);
    return out;
}

std::string zlibUnwrap(std::string_view payload, std::size_t maxInflated) {
    if (payload.empty())
        return {};
    if (payload[0] != '\x01')
        return std::string(payload.substr(1));

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        throw std::runtime_error("zlib initialisation failed");
    std::unique_ptr<z_stream, int (*)(z_stream *)> guard(&zs, inflateEnd);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(payload.data() + 1));
    zs.avail_in = static_cast<uInt>(payload.size() - 1);

    std::string out;
    char chunk[16384];
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef *>(chunk);
        zs.avail_out = sizeof chunk;
        int rc = inflate(&zs, Z_NO_FLUSH);
        std::size_t got = sizeof chunk - zs.avail_out;
        if (out.size() + got > maxInflated)
            throw ProtocolError("compressed frame inflates beyond " + std::to_string(maxInflated) + " bytes");
        out.append(chunk, got);
        if (rc == Z_STREAM_END)
            break;
        if (rc != Z_OK || (got == 0 && zs.avail_in == 0))
            throw ProtocolError("malformed compressed frame");
    }
    if (zs.avail_in != 0)
        throw ProtocolError("data after the end of a compressed frame");
    return out;
}

} // namespace datasnap
