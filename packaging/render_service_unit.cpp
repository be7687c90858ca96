// Writes the service's systemd unit for an executable path to standard output,
// with the same code and registration settings that "/INSTALL" uses, so that
// the packaged unit and a unit registered by hand never differ.
#include <cstdio>
#include <string>

#include "UService.h"
#include "service_manager.h"

int main(int argc, char **argv) {
    if (argc != 2 || argv[1][0] != '/') {
        std::fprintf(stderr, "usage: %s /FULL/PATH/OF/CorvaneDSPrinterService\n", argv[0]);
        return 2;
    }
    const std::string unit =
        os::renderSystemdUnit({TCorvaneDSPrinterService::Name, TCorvaneDSPrinterService::DisplayName, argv[1],
                               TCorvaneDSPrinterService::StartAutomatically});
    return std::fwrite(unit.data(), 1, unit.size(), stdout) == unit.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
