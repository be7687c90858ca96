#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "printers.h"
#include "report.h"

// The page report of a printed text: the whole text as one word-wrapped block in
// the title band, and "Página N" in the page footer of every page. The
// constructor sets the report's design; the caller changes margins, font size
// and printer per print. One instance serves one print.
class TRel_ocorr {
public:
    // `Printers`: where the report is printed; null for the machine's CUPS printers.
    explicit TRel_ocorr(std::shared_ptr<printers::PrinterSystem> Printers = nullptr);
    TRel_ocorr(const TRel_ocorr &) = delete;
    TRel_ocorr &operator=(const TRel_ocorr &) = delete;

    struct TQRPrinterSettings {
        int PrinterIndex = -1; // index into Printers(); -1 is the system's default printer
        int Copies = 1;
        bool Duplex = false;
        std::string OutputBin = "Auto";
        std::string PaperSize = "na_letter_8.5x11in";
    };

    report::Report Report; // page, margins (Report.page) and bands
    TQRPrinterSettings PrinterSettings;
    std::string ReportTitle = "Previsão de Relatório"; // also the print job's title

    // The report's components, held in Report's bands.
    report::Band &QRBand1;
    report::TextLabel &qrmemo1;
    report::Band &QRBand5;
    report::ExpressionBox &QRExpr1;

    // The installed printers, in the order the system lists them (read once per report).
    const std::vector<std::string> &Printers();

    // Prints straight to the chosen printer, no preview. Fires QuickRepBeforePrint
    // first. With no printer installed nothing is printed and nothing fails.
    // Throws printers::PrinterError, report::ReportError or EPrinter.
    void Print();

    void QuickRepBeforePrint(TRel_ocorr &Sender, bool &PrintReport);

private:
    const printers::PrinterList &printerList();

    std::shared_ptr<printers::PrinterSystem> printers_;
    std::unique_ptr<printers::PrinterList> printerList_;
};

// A printer choice that cannot be honoured.
class EPrinter : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
