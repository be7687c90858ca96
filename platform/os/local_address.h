#pragma once

#include <string>

namespace os {

// The machine's first IPv4 address that is not a loopback one, in the order the
// system lists its interfaces ("192.168.0.10"); empty when there is none.
std::string firstLocalIPv4();

} // namespace os
