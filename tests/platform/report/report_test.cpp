#include <gtest/gtest.h>

#include "pdf_probe.h"
#include "report.h"
#include "temp_dir.h"

using pdfprobe::kPtPerMm;

namespace {

// A report like the server's page: Letter, one Courier label 194.2 mm wide in the
// title band, and a centred page number box in the footer.
report::Report pageReport(const std::string &text, double fontSize = 11) {
    report::Report r;
    r.page = {215.9, 279.4, 10, 10, 10, 10};
    r.titleBand.height = 259.03;
    report::TextLabel label;
    label.frame = {1.06, 0.53, 194.20, 256.91};
    label.font = {"Courier New", fontSize, true, false};
    label.caption = text;
    r.titleBand.labels.push_back(label);
    r.pageFooter.height = 6.35;
    report::ExpressionBox box;
    box.frame = {164.84, 0.79, 29.90, 4.50};
    box.font = {"Arial", 8, false, false};
    box.alignment = report::Alignment::Center;
    box.expression = [](const report::PageInfo &p) { return "Página " + std::to_string(p.number); };
    r.pageFooter.expressions.push_back(box);
    return r;
}

struct Rendered {
    int pages;
    std::vector<pdfprobe::Page> read;
    std::vector<std::string> fonts;
};

Rendered render(const report::Report &r) {
    testutil::TempDir dir;
    std::string path = dir.file("r.pdf");
    int pages = r.renderPdfFile(path);
    return {pages, pdfprobe::readPages(path), pdfprobe::fonts(path)};
}

// Body lines of a page: everything above the footer band.
std::vector<pdfprobe::Line> bodyLines(const pdfprobe::Page &page) {
    std::vector<pdfprobe::Line> out;
    for (auto &l : page.lines())
        if (l.yMin < (279.4 - 10 - 6.35) * kPtPerMm)
            out.push_back(l);
    return out;
}

} // namespace

TEST(Report, WrapsAtSpacesWithCourierMetricsAtTheBlockWidth) {
    // 194.2 mm holds 83 Courier characters of 11 pt (6.6 pt each).
    std::string para;
    for (int i = 0; para.size() < 600; ++i)
        para += (i % 7 == 3 ? "palavra-composta" : i % 5 == 0 ? "ação" : "texto") + std::string(" ");
    para += std::string(100, 'X') + " fim";
    Rendered out = render(pageReport(para));
    ASSERT_EQ(out.pages, 1);
    ASSERT_EQ(out.read.size(), 1u);
    EXPECT_DOUBLE_EQ(out.read[0].width, 612);
    EXPECT_DOUBLE_EQ(out.read[0].height, 792);
    EXPECT_EQ(out.fonts, (std::vector<std::string>{"LiberationMono-Bold", "LiberationSans"}));

    auto lines = bodyLines(out.read[0]);
    std::vector<std::string> texts;
    for (auto &l : lines)
        texts.push_back(l.text);
    // The hyphenated words never break at their hyphen; the 100-character word is cut at 83.
    EXPECT_EQ(texts, pdfprobe::monospaceWrap(para, 83));
    for (auto &l : lines)
        EXPECT_NEAR(l.xMin, 11.06 * kPtPerMm, 0.05) << l.text;
    const auto &first = lines[0].words[0]; // "ação"
    EXPECT_NEAR((first.xMax - first.xMin) / 4, 0.6 * 11, 0.01);
    EXPECT_NEAR(lines[0].yMin, 10.53 * kPtPerMm, 1.0);
}

TEST(Report, LongTextFlowsOverPagesWithAFooterOnEachOne) {
    std::string text;
    for (int i = 1; i <= 130; ++i)
        text += "linha " + std::to_string(i) + "\r\n";
    Rendered out = render(pageReport(text));
    ASSERT_EQ(out.pages, 3);
    ASSERT_EQ(out.read.size(), 3u);
    int expected = 1;
    const double footerTop = (279.4 - 10 - 6.35) * kPtPerMm;
    for (size_t p = 0; p < out.read.size(); ++p) {
        auto lines = out.read[p].lines();
        ASSERT_FALSE(lines.empty());
        // Continuation pages start at the top margin like the first one.
        EXPECT_NEAR(lines.front().yMin, 10.53 * kPtPerMm, 1.0);
        for (auto &l : lines) {
            if (l.yMin >= footerTop)
                continue;
            EXPECT_EQ(l.text, "linha " + std::to_string(expected++));
            EXPECT_LT(l.yMin + 11, footerTop);
        }
        const auto &footer = lines.back();
        EXPECT_EQ(footer.text, "Página " + std::to_string(p + 1));
        EXPECT_GT(footer.yMin, footerTop);
        // Centred in its 29.90 mm box, which starts 164.84 mm right of the margin.
        EXPECT_NEAR((footer.xMin + footer.xMax) / 2, (10 + 164.84 + 29.90 / 2) * kPtPerMm, 0.5);
    }
    EXPECT_EQ(expected, 131);
}

TEST(Report, EmptyTextGivesOnePageWithTheFooterOnly) {
    Rendered out = render(pageReport(""));
    ASSERT_EQ(out.pages, 1);
    ASSERT_EQ(out.read.size(), 1u);
    auto lines = out.read[0].lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "Página 1");

    report::Report none = pageReport("");
    none.printIfEmpty = false;
    EXPECT_EQ(none.renderPdf().pages, 0);
}

TEST(Report, LineBreaksBlankLinesAndBadBytes) {
    // CR LF, LF and CR each end a line; empty lines keep their place.
    Rendered out = render(pageReport("um\r\ndois\n\ntres\rquatro\xff"));
    auto lines = bodyLines(out.read.at(0));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "um");
    EXPECT_EQ(lines[1].text, "dois");
    EXPECT_EQ(lines[2].text, "tres");
    EXPECT_EQ(lines[3].text, "quatro\xEF\xBF\xBD"); // an invalid byte shows as U+FFFD
    const double pitch = lines[1].yMin - lines[0].yMin;
    EXPECT_NEAR(lines[2].yMin - lines[1].yMin, 2 * pitch, 0.1);
}

TEST(Report, ImpossiblePagesAreRefused) {
    struct Case {
        const char *what;
        double top, left, font;
    };
    static constexpr Case cases[] = {
        {"top margin below the footer", 270, 10, 11},
        {"left margin beyond the page", 10, 220, 11},
        {"negative margin", -5, 10, 11},
        {"zero font", 10, 10, 0},
        {"line taller than the page body", 10, 10, 900},
    };
    for (const Case &c : cases) {
        report::Report r = pageReport("texto");
        r.page.topMargin = c.top;
        r.page.leftMargin = c.left;
        r.titleBand.labels[0].font.size = c.font;
        EXPECT_THROW(r.renderPdf(), report::ReportError) << c.what;
    }
}

TEST(Report, FontNamesMapToTheirMetricTwins) {
    EXPECT_EQ(report::fontFamilyFor("Courier New"), "Liberation Mono");
    EXPECT_EQ(report::fontFamilyFor("Arial"), "Liberation Sans");
    EXPECT_EQ(report::fontFamilyFor("DejaVu Sans"), "DejaVu Sans");
}

TEST(Report, FixedLabelsAlignmentAndTheLastPagesFooter) {
    report::Report r = pageReport("");
    r.footerOnLastPage = false;
    report::TextLabel fixed; // two lines' room: the third line is cut off
    fixed.frame = {0, 20, 100, 9};
    fixed.font = {"Courier New", 10, false, false};
    fixed.stretch = false;
    fixed.alignment = report::Alignment::Right;
    fixed.caption = "um\r\ndois\r\ntres\r\n";
    r.titleBand.labels.push_back(fixed);
    r.titleBand.labels[0].caption = "corpo";
    Rendered out = render(r);
    ASSERT_EQ(out.pages, 1);
    std::vector<std::string> texts;
    for (auto &l : out.read[0].lines())
        texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"corpo", "um", "dois"})); // and no footer on the last page
    for (auto &l : out.read[0].lines()) {
        if (l.text == "dois") {
            EXPECT_NEAR(l.xMax, (10 + 100) * kPtPerMm, 0.1); // right-aligned in its frame
        }
    }
}
