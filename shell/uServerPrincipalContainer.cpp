#include "uServerPrincipalContainer.h"

#include "event_log.h"
#include "uServerPrincipal.h"
#include "uServerPrincipalDatabase.h"

std::unique_ptr<TServerContainer1> CreateServerContainer1(TFormPrincipal &form) {
    auto container = std::make_unique<TServerContainer1>(
        [&form] { return form.Settings(); },
        [&form](const std::string &value, std::string &erro) { return form.imprime(value, erro); },
        DatabaseHostOf(form));
    container->DSTCPServerTransport1.OnLog = [](const std::string &line) {
        os::logError("CorvaneDSPrinterService", line);
    };
    form.ServerContainer1 = container.get();
    return container;
}
