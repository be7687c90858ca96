#include "uServerPrincipal.h"

#include <cstdint>

#include "ServerContainerUnit1.h"
#include "runtime_convert.h"

// Copies the configured port into the transports: the HTTP service listens on
// `Porta` itself, the TCP transport on `Porta` with a 1 written in front. A
// process without a server (the settings tool) only checks the conversions.
void TFormPrincipal::arruma_porta() {
    std::shared_ptr<const TSettings> settings = Settings();
    int porta = StrToInt("1" + settings->Porta);
    if (ServerContainer1) {
        ServerContainer1->DSTCPServerTransport1.Port = porta;
        ServerContainer1->DSHTTPService1.DSPort = porta;
    }
    const int http = StrToInt(settings->Porta);
    if (ServerContainer1)
        ServerContainer1->DSHTTPService1.HttpPort = static_cast<std::uint16_t>(http);
}
