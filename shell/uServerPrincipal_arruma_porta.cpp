#include "uServerPrincipal.h"

#include <cstdint>

#include "ServerContainerUnit1.h"
#include "runtime_convert.h"

// Copies the configured port into the transports: the HTTP service listens on
// `Porta` itself, the TCP transport on `Porta` with a 1 written in front.
void TFormPrincipal::arruma_porta() {
    std::shared_ptr<const TSettings> settings = Settings();
    int porta = StrToInt("1" + settings->Porta);
    ServerContainer1->DSTCPServerTransport1.Port = porta;
    ServerContainer1->DSHTTPService1.DSPort = porta;
    ServerContainer1->DSHTTPService1.HttpPort = static_cast<std::uint16_t>(StrToInt(settings->Porta));
}
