#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// A small banded page report drawn to PDF: a title band printed once at the start,
// whose text labels word-wrap and stretch down across as many pages as they need,
// and a page footer band at the bottom of every page. Lengths are millimetres,
// font sizes points. Text is UTF-8; text labels take lines separated by CR LF,
// LF or CR.
namespace report {

// A report that cannot be laid out or drawn (impossible page geometry, cairo failure).
class ReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Alignment { Left, Center, Right };

struct Font {
    std::string name = "Arial"; // Windows family names are drawn with their metric twins
    double size = 10;           // points
    bool bold = false;
    bool italic = false;
};

// A component's place inside its band, measured from the band's left and top edges.
struct Frame {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

struct PageInfo {
    int number = 0; // counted from 1
};

// A text label. With `wordWrap` its lines break at spaces to fit the frame's width
// (a word longer than the width breaks between characters); with `stretch` it
// grows downwards past its frame and, in the title band, continues on the next
// pages; otherwise lines below the frame are cut off.
struct TextLabel {
    Frame frame;
    Font font;
    std::string caption;
    Alignment alignment = Alignment::Left;
    bool wordWrap = true;
    bool stretch = true;
    bool transparent = true; // false: the frame is filled white first
};

// A box showing a text computed for each page, e.g. the page number.
struct ExpressionBox {
    Frame frame;
    Font font;
    std::function<std::string(const PageInfo &)> expression;
    Alignment alignment = Alignment::Left;
    bool transparent = false;
};

struct Band {
    double height = 0;
    double width = 0;
    std::vector<TextLabel> labels;
    std::vector<ExpressionBox> expressions;
};

struct PageSetup {
    double width = 215.9; // Letter
    double height = 279.4;
    double leftMargin = 10;
    double rightMargin = 10;
    double topMargin = 10;
    double bottomMargin = 10;
};

struct RenderedReport {
    std::string pdf;
    int pages = 0;
};

// The report's design. Bands start at the page's left and top margins; the page
// footer sits on the bottom margin.
class Report {
public:
    PageSetup page;
    Band titleBand;
    Band pageFooter;
    bool footerOnLastPage = true;
    bool printIfEmpty = true; // one page even when the title band holds no text
    std::string title;        // the PDF document's title

    // Lays the report out and draws it. Throws ReportError.
    RenderedReport renderPdf() const;
    int renderPdfFile(const std::string &path) const; // answers the page count; writes nothing for none

private:
    int render(std::string &pdf) const;
};

// The family that draws `name`: Courier New, Arial and Times New Roman map to the
// Liberation fonts of the same metrics; other names pass through to fontconfig.
std::string fontFamilyFor(const std::string &name);

} // namespace report
