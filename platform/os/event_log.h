#pragma once

#include <string_view>

namespace os {

// The system's event log: syslog at error level (journald picks it up), tagged
// with `source`. When the process runs in a terminal the same line can also go
// to standard error.
void logError(std::string_view source, std::string_view message);

// Also copy every event log line to standard error (foreground runs).
void setLogToStderr(bool on);

} // namespace os
