#include "uUtil.h"

#include "utf8.h"

#include <cstring>
#include <vector>

ReceiptDevice::ReceiptDevice(std::string path, std::chrono::milliseconds sameProcessWait)
    : path_(std::move(path)), sameProcessWait_(sameProcessWait), codePage_(os::CodePage::process()) {
    if (utf8::utf16Length(path_) > kMaxPathLength)
        throw IoError(os::winerr::PathNotFound);
}

void ReceiptDevice::Open() {
    count_ = 0;
    file_.open(path_, sameProcessWait_);
}

void ReceiptDevice::flush() {
    std::size_t n = count_;
    count_ = 0; // a failed write loses the bytes all the same
    file_.write(buffer_, n);
}

void ReceiptDevice::step(std::string_view text, bool lineEnd) {
    converted_.clear();
    codePage_.appendFromUtf8(text, converted_);
    if (lineEnd)
        converted_ += "\r\n";
    const char *p = converted_.data();
    std::size_t left = converted_.size();
    while (left > 0) {
        std::size_t n = std::min(left, kBufferSize - count_);
        std::memcpy(buffer_ + count_, p, n);
        count_ += n;
        p += n;
        left -= n;
        if (count_ == kBufferSize)
            flush(); // on failure the rest of the text is dropped
    }
    if (file_.isCharDevice() && count_ > 0)
        flush();
}

void ReceiptDevice::Write(std::string_view text) {
    step(text, false);
}
void ReceiptDevice::WriteLine(std::string_view text) {
    step(text, true);
}

void ReceiptDevice::Close() {
    if (!file_.isOpen())
        return;
    if (count_ > 0)
        flush();
    file_.close();
}

namespace {

// One model's sequences as write steps: each step is its characters (UTF-8)
// and whether it is a WriteLine.
struct Step {
    const char *chars;
    bool line;
};
struct Sequence {
    Step steps[2];
    int count;
};
struct ModelCommands {
    const char *model;
    Sequence condensedOn, condensedOff, cut;
};

// "\xC3\xB9" is U+00F9 in UTF-8; the code page conversion writes it (249 under Windows-1252).
constexpr ModelCommands kModels[] = {
    {"BEMATECH", {{{"\x1D\xC3\xB9\x28\x30", false}, {"\x0F", true}}, 2}, {{{"\x12", true}}, 1}, {{{"\x1Bw", true}}, 1}},
    {"CONTROL_ID", {{{"\x1BM1", false}, {"\x0F", true}}, 2}, {{{"\x1BM0", false}}, 1}, {{{"\x1Bm", false}}, 1}},
    {"DARUMA", {{{"\x1Bw0", false}, {"\x0F", true}}, 2}, {{{"\x12", true}}, 1}, {{{"\x1Bm", true}}, 1}},
    {"DIEBOLD", {{{"\x0F", true}}, 1}, {{{"\x12", true}}, 1}, {{{"\x1Bw", true}}, 1}},
    {"EPSON", {{{"\x1BM1", false}, {"\x0F", true}}, 2}, {{{"\x1BM0", false}}, 1}, {{{"\x1Bm", false}}, 1}},
    {"FEASSO", {{{"\x1B!\x01", false}, {"\x0F", true}}, 2}, {{{"\x12", true}}, 1}, {{{"\x1DV\x01", false}}, 1}},
};
constexpr ModelCommands kFallback = {"", {{{"\x0F", true}}, 1}, {{{"\x12", true}}, 1}, {{{"\x1Bw", true}}, 1}};

const ModelCommands &commandsFor(const std::string &model) {
    for (const auto &m : kModels)
        if (model == m.model)
            return m;
    return kFallback;
}

void run(const Sequence &seq, ReceiptDevice &device) {
    for (int i = 0; i < seq.count; ++i) {
        if (seq.steps[i].line)
            device.WriteLine(seq.steps[i].chars);
        else
            device.Write(seq.steps[i].chars);
    }
}

// The receipt's lines: CR LF, a lone CR and a lone LF each end a line; a line
// end at the very end starts no further line.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0, i = 0, n = text.size();
    while (i < n) {
        char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < n)
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace

void CondensedOn(const std::string &model, ReceiptDevice &device) {
    run(commandsFor(model).condensedOn, device);
}
void CondensedOff(const std::string &model, ReceiptDevice &device) {
    run(commandsFor(model).condensedOff, device);
}
void CutPaper(const std::string &model, ReceiptDevice &device) {
    run(commandsFor(model).cut, device);
}

void PrintReceipt(ReceiptDevice &device, std::string_view text, const std::string &model, bool condensed, bool cut) {
    if (auto nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string_view> lines = splitLines(text);
    if (condensed)
        CondensedOn(model, device);
    for (std::string_view line : lines)
        device.WriteLine(line);
    if (condensed)
        CondensedOff(model, device);
    if (cut)
        CutPaper(model, device);
}
