#include "UService.h"

#include <exception>

#include "error_file.h"
#include "uServerPrincipal.h"
#include "code_page.h"

TCorvaneDSPrinterService::TCorvaneDSPrinterService(TFormPrincipal &form, std::function<void()> startServer)
    : form_(form), startServer_(std::move(startServer)) {}

void TCorvaneDSPrinterService::writeStepError(int step, const std::string &message) {
    os::writeErrorFile(os::errorFolder(), "teste" + std::to_string(step) + "_err.txt",
                       os::CodePage::process().fromUtf8(message) + "\r\n");
}

void TCorvaneDSPrinterService::ServiceStart(bool &) {
    const std::function<void()> steps[] = {
        [this] { form_.servico = true; },
        [this] { form_.carregaParametro(); },
        [this] { form_.peganome(); },
        [this] { startServer_(); },
    };
    int step = 0;
    for (const auto &run : steps) {
        ++step;
        std::string message;
        try {
            run();
            continue;
        } catch (const std::exception &e) {
            message = e.what();
        } catch (...) {
            message = "Unknown error";
        }
        writeStepError(step, message);
    }
}

void TCorvaneDSPrinterService::ServiceStop(bool &Stopped) { Stopped = true; }
