#include "event_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include <syslog.h>

namespace os {

namespace {
std::atomic<bool> toStderr{false};
std::mutex logMutex; // openlog keeps the tag pointer: one source at a time
} // namespace

void setLogToStderr(bool on) { toStderr = on; }

void logError(std::string_view source, std::string_view message) {
    std::string tag(source), text(message);
    {
        std::lock_guard lock(logMutex);
        openlog(tag.c_str(), LOG_PID, LOG_DAEMON);
        syslog(LOG_ERR, "%s", text.c_str());
        closelog();
    }
    if (toStderr)
        std::fprintf(stderr, "%s: %s\n", tag.c_str(), text.c_str());
}

} // namespace os
