#include "report.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string_view>

namespace report {

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kEpsilon = 1e-6;      // points; absorbs rounding when a line fills the width exactly
constexpr size_t kMeasureChunk = 4096; // bytes per measuring layout: long paragraphs stay linear
constexpr int kTabColumns = 8;

double pt(double mm) {
    return mm * kPointsPerMm;
}

struct GObjectDeleter {
    void operator()(void *p) const { g_object_unref(p); }
};
struct FontDescDeleter {
    void operator()(PangoFontDescription *p) const { pango_font_description_free(p); }
};
struct SurfaceDeleter {
    void operator()(cairo_surface_t *p) const { cairo_surface_destroy(p); }
};
struct CairoDeleter {
    void operator()(cairo_t *p) const { cairo_destroy(p); }
};
using ContextPtr = std::unique_ptr<PangoContext, GObjectDeleter>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectDeleter>;
using FontDescPtr = std::unique_ptr<PangoFontDescription, FontDescDeleter>;
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;

std::string format(const char *fmt, double a, double b = 0) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

// Pango takes only valid UTF-8 without NUL; anything else becomes U+FFFD.
std::string validUtf8(std::string_view s) {
    if (g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr))
        return std::string(s);
    gchar *fixed = g_utf8_make_valid(s.data(), static_cast<gssize>(s.size()));
    std::string out(fixed);
    g_free(fixed);
    return out;
}

// Tabs become spaces up to the next stop of eight characters, so that measuring
// and drawing a line piece by piece agree on where the text lands.
std::string expandTabs(const std::string &s) {
    if (s.find('\t') == std::string::npos)
        return s;
    std::string out;
    long column = 0;
    for (const char *p = s.c_str(); *p;) {
        const char *next = g_utf8_next_char(p);
        if (*p == '\t') {
            long n = kTabColumns - column % kTabColumns;
            out.append(static_cast<size_t>(n), ' ');
            column += n;
        } else {
            out.append(p, next);
            ++column;
        }
        p = next;
    }
    return out;
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

FontDescPtr fontDescription(const Font &font) {
    if (!(font.size > 0) || font.size > 1000)
        throw ReportError(format("Font size %g pt is out of range", font.size));
    FontDescPtr fd(pango_font_description_new());
    pango_font_description_set_family(fd.get(), fontFamilyFor(font.name).c_str());
    pango_font_description_set_weight(fd.get(), font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(fd.get(), font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(fd.get(), font.size * PANGO_SCALE);
    return fd;
}

// A pango context that measures in points the way the PDF draws: 72 units per
// inch and glyph positions kept fractional (whole-point rounding would widen
// Courier's 6.6 pt advance to 7 pt and wrap lines too early).
ContextPtr makeContext(PangoFontMap *fontMap) {
    ContextPtr ctx(pango_font_map_create_context(fontMap));
    pango_cairo_context_set_resolution(ctx.get(), 72);
    pango_context_set_round_glyph_positions(ctx.get(), FALSE);
    cairo_font_options_t *opts = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(ctx.get(), opts);
    cairo_font_options_destroy(opts);
    return ctx;
}

// One font in one context: measures and draws single lines.
class TextPen {
public:
    TextPen(PangoContext *ctx, const Font &font) : fd_(fontDescription(font)), layout_(pango_layout_new(ctx)) {
        pango_layout_set_font_description(layout_.get(), fd_.get());
        pango_layout_set_single_paragraph_mode(layout_.get(), TRUE);
        pango_layout_set_text(layout_.get(), "M", 1);
        int w = 0, h = 0;
        pango_layout_get_size(layout_.get(), &w, &h);
        lineHeight_ = static_cast<double>(h) / PANGO_SCALE;
    }

    double lineHeight() const { return lineHeight_; }

    double width(const std::string &text) {
        pango_layout_set_text(layout_.get(), text.data(), static_cast<int>(text.size()));
        int w = 0, h = 0;
        pango_layout_get_size(layout_.get(), &w, &h);
        return static_cast<double>(w) / PANGO_SCALE;
    }

    void draw(cairo_t *cr, const std::string &text, double x, double y) {
        pango_layout_set_text(layout_.get(), text.data(), static_cast<int>(text.size()));
        cairo_move_to(cr, x, y);
        pango_cairo_show_layout(cr, layout_.get());
    }

    // Breaks one paragraph (no line ends in it) into lines of at most `maxWidth`
    // points, at spaces; the spaces at a break are dropped. A word wider than the
    // line breaks between characters.
    void wrap(const std::string &para, double maxWidth, std::vector<std::string> &out) {
        struct Cluster {
            size_t byte;
            double x;
            double width;
        };
        std::vector<Cluster> clusters;
        double offset = 0;
        for (size_t start = 0; start < para.size();) {
            size_t end = std::min(para.size(), start + kMeasureChunk);
            while (end < para.size() && (static_cast<unsigned char>(para[end]) & 0xC0) == 0x80)
                --end; // never cut a UTF-8 sequence
            pango_layout_set_text(layout_.get(), para.data() + start, static_cast<int>(end - start));
            PangoLayoutIter *iter = pango_layout_get_iter(layout_.get());
            do {
                if (!pango_layout_iter_get_run_readonly(iter))
                    continue; // the line's end
                PangoRectangle logical;
                pango_layout_iter_get_cluster_extents(iter, nullptr, &logical);
                clusters.push_back({start + static_cast<size_t>(pango_layout_iter_get_index(iter)),
                                    offset + static_cast<double>(logical.x) / PANGO_SCALE,
                                    static_cast<double>(logical.width) / PANGO_SCALE});
            } while (pango_layout_iter_next_cluster(iter));
            pango_layout_iter_free(iter);
            int w = 0, h = 0;
            pango_layout_get_size(layout_.get(), &w, &h);
            offset += static_cast<double>(w) / PANGO_SCALE;
            start = end;
        }
        if (clusters.empty()) {
            out.emplace_back();
            return;
        }
        const size_t n = clusters.size();
        auto isSpace = [&](size_t i) { return para[clusters[i].byte] == ' '; };
        auto emit = [&](size_t from, size_t to) {
            size_t endByte = to < n ? clusters[to].byte : para.size();
            out.push_back(para.substr(clusters[from].byte, endByte - clusters[from].byte));
        };
        size_t s = 0;
        while (s < n) {
            const double x0 = clusters[s].x;
            size_t e = s;
            while (e < n && clusters[e].x + clusters[e].width - x0 <= maxWidth + kEpsilon)
                ++e;
            if (e == n) {
                emit(s, n);
                break;
            }
            size_t b = e;
            while (b > s && !isSpace(b))
                --b;
            size_t lineEnd = b;
            while (lineEnd > s && isSpace(lineEnd - 1))
                --lineEnd;
            if (b > s && lineEnd > s) {
                emit(s, lineEnd);
                s = b;
                while (s < n && isSpace(s))
                    ++s;
            } else {
                if (e == s)
                    e = s + 1;
                emit(s, e);
                s = e;
            }
        }
    }

private:
    FontDescPtr fd_;
    LayoutPtr layout_;
    double lineHeight_ = 0;
};

double alignedX(TextPen &pen, const std::string &text, Alignment alignment, double left, double width) {
    if (alignment == Alignment::Left)
        return left;
    double w = pen.width(text);
    return alignment == Alignment::Center ? left + (width - w) / 2 : left + width - w;
}

// A label of a band with its text already broken into lines; `next` is the first
// line not drawn yet.
struct Flow {
    const TextLabel *label;
    std::unique_ptr<TextPen> pen;
    std::vector<std::string> lines;
    size_t next = 0;
};

Flow layOut(PangoContext *ctx, const TextLabel &label) {
    Flow flow{&label, std::make_unique<TextPen>(ctx, label.font), {}, 0};
    const double width = pt(label.frame.width);
    for (const std::string &raw : splitLines(validUtf8(label.caption))) {
        std::string para = expandTabs(raw);
        if (label.wordWrap)
            flow.pen->wrap(para, width, flow.lines);
        else
            flow.lines.push_back(std::move(para));
    }
    return flow;
}

void fillWhite(cairo_t *cr, double x, double y, double w, double h) {
    cairo_save(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    cairo_restore(cr);
}

// Draws lines of `flow` from its `next` line down from `top` while they end above
// `bottom`; answers how many it drew.
size_t drawLines(cairo_t *cr, Flow &flow, double bandLeft, double top, double bottom) {
    const TextLabel &label = *flow.label;
    const double left = bandLeft + pt(label.frame.left);
    const double width = pt(label.frame.width);
    const double lh = flow.pen->lineHeight();
    size_t count = 0;
    while (flow.next + count < flow.lines.size() && top + (count + 1) * lh <= bottom + kEpsilon)
        ++count;
    if (count == 0)
        return 0;
    if (cr) {
        cairo_save(cr);
        if (!label.transparent)
            fillWhite(cr, left, top, width, count * lh);
        if (!label.wordWrap) {
            cairo_rectangle(cr, left, top, width, count * lh);
            cairo_clip(cr);
        }
        for (size_t i = 0; i < count; ++i) {
            const std::string &line = flow.lines[flow.next + i];
            flow.pen->draw(cr, line, alignedX(*flow.pen, line, label.alignment, left, width), top + i * lh);
        }
        cairo_restore(cr);
    }
    flow.next += count;
    return count;
}

void drawExpression(cairo_t *cr, PangoContext *ctx, const ExpressionBox &box, double bandLeft, double bandTop,
                    const PageInfo &info) {
    const double left = bandLeft + pt(box.frame.left);
    const double top = bandTop + pt(box.frame.top);
    const double width = pt(box.frame.width);
    const double height = pt(box.frame.height);
    TextPen pen(ctx, box.font);
    std::string text = box.expression ? expandTabs(validUtf8(box.expression(info))) : std::string();
    cairo_save(cr);
    if (!box.transparent)
        fillWhite(cr, left, top, width, height);
    cairo_rectangle(cr, left, top, width, height);
    cairo_clip(cr);
    pen.draw(cr, text, alignedX(pen, text, box.alignment, left, width), top);
    cairo_restore(cr);
}

// Labels of a band that do not flow over pages: the lines that fit in their
// frames. In the title band the stretching labels flow and are drawn apart.
void drawFixedLabels(cairo_t *cr, PangoContext *ctx, const Band &band, double bandLeft, double bandTop,
                     bool skipStretching) {
    for (const TextLabel &label : band.labels) {
        if (skipStretching && label.stretch)
            continue;
        Flow flow = layOut(ctx, label);
        const double top = bandTop + pt(label.frame.top);
        drawLines(cr, flow, bandLeft, top, top + pt(label.frame.height));
    }
}

cairo_status_t writeToSink(void *closure, const unsigned char *data, unsigned int length) {
    auto *sink = static_cast<const std::function<void(const char *, size_t)> *>(closure);
    try {
        (*sink)(reinterpret_cast<const char *>(data), length);
    } catch (...) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

// cairo gives every page a transparency group although nothing here is
// transparent. Print filters that convert PDF to Level 2 PostScript (Ghostscript's
// ps2write, as CUPS runs it) turn any page with such a group into one bitmap,
// losing the text. The group is blanked out in place (same length, so the
// cross-reference offsets stay right); the pages then draw exactly the same.
void dropPageTransparencyGroups(std::string &pdf) {
    static constexpr std::string_view kOpen = "/Group <<";
    for (size_t pos = pdf.find(kOpen); pos != std::string::npos; pos = pdf.find(kOpen, pos)) {
        size_t end = pdf.find(">>", pos + kOpen.size());
        if (end == std::string::npos)
            break;
        end += 2;
        std::string_view group(pdf.data() + pos, end - pos);
        if (group.find("/S /Transparency") != std::string_view::npos &&
            group.find("<<", kOpen.size()) == std::string_view::npos)
            pdf.replace(pos, end - pos, end - pos, ' ');
        pos = end;
    }
}

void checkGeometry(const PageSetup &page, double footerHeight) {
    for (double v : {page.width, page.height, page.leftMargin, page.rightMargin, page.topMargin, page.bottomMargin})
        if (!std::isfinite(v))
            throw ReportError("Page size and margins must be finite numbers");
    if (page.width <= 0 || page.height <= 0)
        throw ReportError(format("Page size %g x %g mm is not a page", page.width, page.height));
    if (page.leftMargin < 0 || page.leftMargin >= page.width)
        throw ReportError(
            format("Left margin of %g mm is outside the page, which is %g mm wide", page.leftMargin, page.width));
    if (page.topMargin < 0 || page.bottomMargin < 0 || page.rightMargin < 0)
        throw ReportError("Page margins cannot be negative");
    if (page.topMargin + footerHeight + page.bottomMargin >= page.height)
        throw ReportError(
            format("Top margin of %g mm leaves no room for text on a page %g mm high", page.topMargin, page.height));
}

} // namespace

std::string fontFamilyFor(const std::string &name) {
    if (g_ascii_strcasecmp(name.c_str(), "Courier New") == 0)
        return "Liberation Mono";
    if (g_ascii_strcasecmp(name.c_str(), "Arial") == 0)
        return "Liberation Sans";
    if (g_ascii_strcasecmp(name.c_str(), "Times New Roman") == 0)
        return "Liberation Serif";
    return name;
}

namespace {

// One font map for the process, used by one render at a time: pango's font maps
// are not made for several threads, and a map per thread would load the fonts
// again for every thread and never be freed.
std::mutex &fontMapLock() {
    static std::mutex lock;
    return lock;
}

PangoFontMap *sharedFontMap() {
    static PangoFontMap *map = pango_cairo_font_map_new();
    return map;
}

} // namespace

int Report::render(std::string &pdf) const {
    checkGeometry(page, pageFooter.height);
    std::lock_guard<std::mutex> serialised(fontMapLock());
    ContextPtr ctx = makeContext(sharedFontMap());

    std::vector<Flow> flows;
    size_t totalLines = 0;
    for (const TextLabel &label : titleBand.labels) {
        if (!label.stretch)
            continue;
        flows.push_back(layOut(ctx.get(), label));
        totalLines += flows.back().lines.size();
    }
    if (totalLines == 0 && !printIfEmpty)
        return 0;

    const double pageW = pt(page.width);
    const double pageH = pt(page.height);
    const double bandLeft = pt(page.leftMargin);
    const double bandTop = pt(page.topMargin);
    const double footerTop = pageH - pt(page.bottomMargin) - pt(pageFooter.height);
    for (const Flow &flow : flows) {
        if (flow.lines.empty())
            continue;
        if (bandTop + pt(flow.label->frame.top) + flow.pen->lineHeight() > footerTop + kEpsilon)
            throw ReportError(format("A line of %.2f mm does not fit between the top margin of %g mm and the page "
                                     "footer",
                                     flow.pen->lineHeight() / kPointsPerMm, page.topMargin));
    }

    std::function<void(const char *, size_t)> collect = [&](const char *data, size_t n) { pdf.append(data, n); };
    SurfacePtr surface(cairo_pdf_surface_create_for_stream(writeToSink, &collect, pageW, pageH));
    // 1.4 keeps every page dictionary uncompressed (no object streams).
    cairo_pdf_surface_restrict_to_version(surface.get(), CAIRO_PDF_VERSION_1_4);
    if (!title.empty())
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, validUtf8(title).c_str());
    CairoPtr cr(cairo_create(surface.get()));
    cairo_set_source_rgb(cr.get(), 0, 0, 0);

    int pages = 0;
    for (bool more = true; more;) {
        ++pages;
        const PageInfo info{pages};
        size_t drawn = 0;
        for (Flow &flow : flows)
            drawn += drawLines(cr.get(), flow, bandLeft, bandTop + pt(flow.label->frame.top), footerTop);
        if (drawn == 0 && pages > 1)
            throw ReportError("The text does not fit on a page"); // never loop over empty pages
        if (pages == 1) {
            drawFixedLabels(cr.get(), ctx.get(), titleBand, bandLeft, bandTop, true);
            for (const ExpressionBox &box : titleBand.expressions)
                drawExpression(cr.get(), ctx.get(), box, bandLeft, bandTop, info);
        }
        more = false;
        for (const Flow &flow : flows)
            more = more || flow.next < flow.lines.size();
        if (more || footerOnLastPage) {
            drawFixedLabels(cr.get(), ctx.get(), pageFooter, bandLeft, footerTop, false);
            for (const ExpressionBox &box : pageFooter.expressions)
                drawExpression(cr.get(), ctx.get(), box, bandLeft, footerTop, info);
        }
        cairo_show_page(cr.get());
    }
    cr.reset();
    cairo_surface_finish(surface.get());
    if (cairo_status_t st = cairo_surface_status(surface.get()); st != CAIRO_STATUS_SUCCESS)
        throw ReportError(std::string("Cannot draw the report: ") + cairo_status_to_string(st));
    surface.reset();
    dropPageTransparencyGroups(pdf);
    return pages;
}

RenderedReport Report::renderPdf() const {
    RenderedReport out;
    out.pages = render(out.pdf);
    return out;
}

int Report::renderPdfFile(const std::string &path) const {
    std::string pdf;
    int pages = render(pdf);
    if (pages == 0)
        return 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(pdf.data(), static_cast<std::streamsize>(pdf.size()));
    file.close();
    if (!file)
        throw ReportError("Cannot write " + path);
    return pages;
}

} // namespace report
