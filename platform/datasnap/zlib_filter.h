#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace datasnap {

// DataSnap's "ZLibCompression" transform of one frame payload: a buffer longer
// than `threshold` bytes becomes 0x01 + a zlib (RFC 1950) stream, any other
// becomes 0x02 + the buffer.
std::string zlibWrap(std::string_view buffer, std::size_t threshold);

// The inverse: 0x01 inflates the rest (never beyond `maxInflated` bytes; a
// larger or malformed stream raises ProtocolError), any other marker takes
// the rest as it is. An empty payload gives an empty buffer.
std::string zlibUnwrap(std::string_view payload, std::size_t maxInflated);

} // namespace datasnap
