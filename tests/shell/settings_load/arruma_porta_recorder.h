#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// What the loader handed to arruma_porta in this test process.
struct ArrumaPortaRecorder {
    static ArrumaPortaRecorder &instance();
    std::vector<std::string> ports; // Porta of the record at each call
    const char *failure = nullptr;  // message to raise, when set
};
