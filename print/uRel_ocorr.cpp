#include "uRel_ocorr.h"

namespace {

// The report as designed: Letter paper in portrait, millimetres, 10 mm margins.
report::Report design() {
    report::Report r;
    r.page = {215.9, 279.4, 10, 10, 10, 10};
    r.footerOnLastPage = true;
    r.printIfEmpty = true;
    r.title = "Previsão de Relatório";

    // QRBand1, the title band (printed once, at the start).
    r.titleBand.height = 259.03;
    r.titleBand.width = 195.79;
    report::TextLabel qrmemo1;
    qrmemo1.frame = {1.06, 0.53, 194.20, 256.91};
    qrmemo1.font = {"Courier New", 11, false, false}; // ANSI character set
    qrmemo1.alignment = report::Alignment::Left;
    qrmemo1.wordWrap = true;
    qrmemo1.stretch = true; // fixed width, grows downwards
    qrmemo1.transparent = true;
    r.titleBand.labels.push_back(std::move(qrmemo1));

    // QRBand5, the page footer (every page, the last one too).
    r.pageFooter.height = 6.35;
    r.pageFooter.width = 195.79;
    report::ExpressionBox QRExpr1;
    QRExpr1.frame = {164.84, 0.79, 29.90, 4.50};
    QRExpr1.font = {"Arial", 8, false, false};
    QRExpr1.alignment = report::Alignment::Center;
    QRExpr1.transparent = false;
    // 'Página ' + PageNumber
    QRExpr1.expression = [](const report::PageInfo &page) { return "Página " + std::to_string(page.number); };
    r.pageFooter.expressions.push_back(std::move(QRExpr1));
    return r;
}

} // namespace

TRel_ocorr::TRel_ocorr(std::shared_ptr<printers::PrinterSystem> Printers)
    : Report(design()), QRBand1(Report.titleBand), qrmemo1(Report.titleBand.labels.at(0)), QRBand5(Report.pageFooter),
      QRExpr1(Report.pageFooter.expressions.at(0)),
      printers_(Printers ? std::move(Printers) : std::make_shared<printers::CupsPrinters>()) {}

const printers::PrinterList &TRel_ocorr::printerList() {
    if (!printerList_)
        printerList_ = std::make_unique<printers::PrinterList>(printers_->list());
    return *printerList_;
}

const std::vector<std::string> &TRel_ocorr::Printers() {
    return printerList().names;
}

void TRel_ocorr::Print() {
    bool PrintReport = true;
    QuickRepBeforePrint(*this, PrintReport);
    if (!PrintReport)
        return;

    const printers::PrinterList &list = printerList();
    if (list.names.empty())
        return; // no printer installed: nothing to print on
    std::string printer;
    if (PrinterSettings.PrinterIndex >= 0 && static_cast<size_t>(PrinterSettings.PrinterIndex) < list.names.size())
        printer = list.names[static_cast<size_t>(PrinterSettings.PrinterIndex)];
    else if (PrinterSettings.PrinterIndex == -1 && !list.defaultName.empty())
        printer = list.defaultName;
    else if (PrinterSettings.PrinterIndex == -1)
        throw EPrinter("There is no default printer currently selected");
    else
        throw EPrinter("Printer index out of range");

    Report.title = ReportTitle;
    report::RenderedReport rendered = Report.renderPdf();
    if (rendered.pages == 0)
        return;
    printers::JobOptions options;
    options.title = ReportTitle;
    options.copies = PrinterSettings.Copies;
    options.media = PrinterSettings.PaperSize;
    options.sides = PrinterSettings.Duplex ? "two-sided-long-edge" : "one-sided";
    printers_->printPdf(printer, rendered.pdf, options);
}

// In the desktop toolkit this handler tidied the engine's preview window (no
// minimise or maximise buttons) and made the report's window a child of the main
// window. This report prints straight to the printing system and has no window,
// so there is nothing to adjust; printing goes on.
void TRel_ocorr::QuickRepBeforePrint(TRel_ocorr & /*Sender*/, bool & /*PrintReport*/) {}
