#pragma once

#include <stdexcept>
#include <string>

namespace os {

struct ErrorFileFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The folder of the service's start error files: CORVANE_ERROR_DIR when set,
// else /var/lib/CorvaneDSPrinterService.
std::string errorFolder();

// Replaces `folder`/`name` with `bytes`. The service runs as root, so the
// folder must not be a link and must be writable by our account alone (it is
// created mode 0700 when missing, its parent must exist), and the file is
// opened without following links. Throws ErrorFileFailure with a readable
// message when any of that fails.
void writeErrorFile(const std::string &folder, const std::string &name, const std::string &bytes);

} // namespace os
