#pragma once

#include <stdexcept>

namespace datasnap {

// A peer broke the TCP protocol (bad handshake, frame, message or row) or
// went beyond a limit; the connection that raised it is closed.
struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace datasnap
