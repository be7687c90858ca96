// Any text a client sends lays out on the page report and draws to a PDF of at
// least one page: invalid UTF-8, control characters, long words, many line ends.
// The first byte picks the font size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0 || size > 16 * 1024)
        return 0;
    report::Report r;
    report::TextLabel label;
    label.frame = {1.06, 0.53, 194.20, 256.91};
    label.font = {"Courier New", 4.0 + data[0] % 60, true, false};
    label.caption.assign(reinterpret_cast<const char *>(data) + 1, size - 1);
    r.titleBand.labels.push_back(label);
    r.pageFooter.height = 6.35;
    report::ExpressionBox box;
    box.frame = {164.84, 0.79, 29.90, 4.50};
    box.font = {"Arial", 8, false, false};
    box.expression = [](const report::PageInfo &p) { return "Página " + std::to_string(p.number); };
    r.pageFooter.expressions.push_back(box);
    report::RenderedReport out = r.renderPdf();
    if (out.pages < 1 || out.pdf.compare(0, 5, "%PDF-") != 0)
        std::abort();
    return 0;
}
