#include "printers.h"

#include <cups/cups.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace printers {

namespace {

struct HttpCloser {
    void operator()(http_t *http) const { httpClose(http); }
};
using HttpPtr = std::unique_ptr<http_t, HttpCloser>;

constexpr int kConnectTimeoutMs = 10000;

bool failed(ipp_status_t status) {
    return status > IPP_STATUS_OK_CONFLICTING;
}

// The last libcups failure of this thread, with libcups' message. Only take it
// after a call has reported failure: the message text may be stale otherwise.
PrinterError lastError(const std::string &context = {}) {
    ipp_status_t status = cupsLastError();
    const char *text = cupsLastErrorString();
    std::string message = text && *text ? text : ippErrorString(status);
    if (!context.empty())
        message = context + ": " + message;
    if (status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE)
        return SchedulerUnavailable(message, status);
    return PrinterError(message, status);
}

[[noreturn]] void rethrow(const PrinterError &error) {
    if (error.status() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE)
        throw SchedulerUnavailable(error.what(), error.status());
    throw error;
}

} // namespace

CupsPrinters::CupsPrinters(std::string server) : server_(std::move(server)) {}

namespace {

HttpPtr connectTo(const std::string &server) {
    std::string host = server.empty() ? cupsServer() : server;
    int port = ippPort();
    if (!host.empty() && host[0] != '/') {
        if (auto colon = host.rfind(':'); colon != std::string::npos && host.find(']', colon) == std::string::npos) {
            port = std::atoi(host.c_str() + colon + 1);
            host.erase(colon);
        }
    }
    errno = 0;
    http_t *http =
        httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs, nullptr);
    if (!http) {
        int err = errno;
        std::string where = host[0] == '/' ? host : host + ":" + std::to_string(port);
        throw SchedulerUnavailable("The CUPS print scheduler is not reachable at " + where +
                                       (err ? std::string(": ") + std::strerror(err) : std::string()),
                                   IPP_STATUS_ERROR_SERVICE_UNAVAILABLE);
    }
    return HttpPtr(http);
}

} // namespace

PrinterList CupsPrinters::list() {
    HttpPtr http = connectTo(server_);
    cups_dest_t *dests = nullptr;
    int count = cupsGetDests2(http.get(), &dests);
    if (count == 0) {
        ipp_status_t status = cupsLastError();
        // "No destinations added." is no failure: there is simply no printer.
        if (failed(status) && status != IPP_STATUS_ERROR_NOT_FOUND)
            rethrow(lastError("Cannot list the printers"));
        return {};
    }
    PrinterList result;
    for (int i = 0; i < count; ++i) {
        const cups_dest_t &dest = dests[i];
        if (dest.instance == nullptr)
            result.names.emplace_back(dest.name);
        if (dest.is_default)
            result.defaultName = dest.name;
    }
    cupsFreeDests(count, dests);
    return result;
}

int CupsPrinters::printPdf(const std::string &printer, const std::string &pdf, const JobOptions &options) {
    HttpPtr http = connectTo(server_);
    cups_option_t *opts = nullptr;
    int nopts = 0;
    nopts = cupsAddOption("copies", std::to_string(options.copies).c_str(), nopts, &opts);
    if (!options.media.empty())
        nopts = cupsAddOption("media", options.media.c_str(), nopts, &opts);
    if (!options.sides.empty())
        nopts = cupsAddOption("sides", options.sides.c_str(), nopts, &opts);
    int job = cupsCreateJob(http.get(), printer.c_str(), options.title.c_str(), nopts, opts);
    cupsFreeOptions(nopts, opts);
    if (job <= 0) {
        PrinterError error = lastError();
        // For a queue that does not exist the scheduler's answer to the job
        // request only says "internal error"; asking for the queue gives the
        // scheduler's real reason.
        if (error.status() == IPP_STATUS_ERROR_INTERNAL) {
            if (cups_dest_t *dest = cupsGetNamedDest(http.get(), printer.c_str(), nullptr))
                cupsFreeDests(1, dest);
            else if (failed(cupsLastError()))
                rethrow(lastError());
        }
        rethrow(error);
    }

    auto fail = [&]() {
        // Keep the first failure: cancelling sets the thread's last error again.
        PrinterError error = lastError();
        cupsCancelJob2(http.get(), printer.c_str(), job, 0);
        rethrow(error);
    };
    if (cupsStartDocument(http.get(), printer.c_str(), job, options.title.c_str(), CUPS_FORMAT_PDF, 1) !=
        HTTP_STATUS_CONTINUE)
        fail();
    constexpr size_t kChunk = 64 * 1024;
    for (size_t off = 0; off < pdf.size(); off += kChunk) {
        size_t n = std::min(kChunk, pdf.size() - off);
        if (cupsWriteRequestData(http.get(), pdf.data() + off, n) != HTTP_STATUS_CONTINUE)
            fail();
    }
    if (failed(cupsFinishDocument(http.get(), printer.c_str())))
        fail();
    return job;
}

} // namespace printers
