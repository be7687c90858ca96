#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "code_page.h"
#include "device_file.h"
#include "io_error.h"

using os::IoError;

// The output to a receipt printer for one print call: a device path opened for
// writing, one conversion of all text to the system's code page, and a 128-byte
// buffer. Bytes wait in the buffer until it fills or until Close; on a character
// device (a port) every Write/WriteLine step is written through at its end.
class ReceiptDevice {
public:
    static constexpr std::size_t kBufferSize = 128;
    static constexpr std::size_t kMaxPathLength = 259; // in UTF-16 units

    // Prepares the device; a path longer than 259 characters fails with IoError 3.
    explicit ReceiptDevice(std::string path,
                           std::chrono::milliseconds sameProcessWait = os::DeviceFile::kDefaultSameProcessWait);
    ReceiptDevice(const ReceiptDevice &) = delete;
    ReceiptDevice &operator=(const ReceiptDevice &) = delete;

    void Open();
    void Write(std::string_view text);
    void WriteLine(std::string_view text);
    // Writes out the buffer, then releases the device. After a failed write
    // the device stays open with an empty buffer; the next Close releases it.
    void Close();

    const std::string &Path() const { return path_; }
    bool FlushEachStep() const { return file_.isOpen() && file_.isCharDevice(); }

private:
    void step(std::string_view text, bool lineEnd);
    void flush();

    std::string path_;
    std::chrono::milliseconds sameProcessWait_;
    os::DeviceFile file_;
    const os::CodePage &codePage_;
    std::string converted_; // reused for each step's bytes
    char buffer_[kBufferSize];
    std::size_t count_ = 0;
};

// The model's command sequences (model names compared exactly; any other
// name, the empty one included, gets the fallback sequences).
void CondensedOn(const std::string &model, ReceiptDevice &device);
void CondensedOff(const std::string &model, ReceiptDevice &device);
void CutPaper(const std::string &model, ReceiptDevice &device);

// Writes `text` as a receipt: condensed on, each line with CR LF, condensed
// off, paper cut, as the flags ask. Lines end at CR LF, a lone CR or a lone LF;
// a NUL character ends the text.
void PrintReceipt(ReceiptDevice &device, std::string_view text, const std::string &model, bool condensed, bool cut);
