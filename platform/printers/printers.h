#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// The machine's printers: the installed queues, the default one, and print jobs.
namespace printers {

// A failure of the printing system; the message is the printing system's own.
class PrinterError : public std::runtime_error {
public:
    PrinterError(const std::string &message, int status) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; } // the IPP status code, 0 when there is none
private:
    int status_;
};

// No print scheduler answers (not running, or not reachable at its address).
class SchedulerUnavailable : public PrinterError {
public:
    using PrinterError::PrinterError;
};

struct PrinterList {
    std::vector<std::string> names; // in the order the printing system lists them
    std::string defaultName;        // empty when no default printer is set
};

struct JobOptions {
    std::string title;
    int copies = 1;
    std::string media;               // paper name such as "Letter"; empty: the printer's default
    std::string sides = "one-sided"; // empty: the printer's default
};

// Access to the printers; the server uses CupsPrinters, tests may wrap it.
class PrinterSystem {
public:
    virtual ~PrinterSystem() = default;
    virtual PrinterList list() = 0;
    // Submits a PDF document as one job and answers the job's id.
    virtual int printPdf(const std::string &printer, const std::string &pdf, const JobOptions &options) = 0;
};

// The printers of a CUPS scheduler through libcups. Each call opens its own
// connection, so one instance may serve several threads.
class CupsPrinters : public PrinterSystem {
public:
    // `server`: a socket path or "host[:port]"; empty for libcups' own choice
    // (CUPS_SERVER, client.conf, the local scheduler).
    explicit CupsPrinters(std::string server = {});

    PrinterList list() override;
    int printPdf(const std::string &printer, const std::string &pdf, const JobOptions &options) override;

private:
    std::string server_;
};

} // namespace printers
