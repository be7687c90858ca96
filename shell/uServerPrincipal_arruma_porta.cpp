#include "uServerPrincipal.h"

#include <cstdint>
#include <stdexcept>

#include "ServerContainerUnit1.h"

namespace {

// The runtime's text-to-integer conversion: leading blanks, an optional sign,
// decimal digits or a '$' / "0x" hexadecimal prefix, nothing after them, and
// a value within 32 bits; anything else is a conversion error.
int StrToInt(const std::string &text) {
    auto fail = [&]() -> int { throw std::invalid_argument("'" + text + "' is not a valid integer value"); };
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    if (i == text.size())
        return fail();
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return fail();
        value = value * base + d;
        if (value > (base == 16 ? 0xFFFFFFFFLL : 2147483648LL))
            return fail();
    }
    if (base == 10 && value > (negative ? 2147483648LL : 2147483647LL))
        return fail();
    if (base == 16) // hexadecimal texts give the 32-bit pattern
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return static_cast<int>(negative ? -value : value);
}

} // namespace

// Copies the configured port into the transports: the HTTP service listens on
// `Porta` itself, the TCP transport on `Porta` with a 1 written in front.
void TFormPrincipal::arruma_porta() {
    std::shared_ptr<const TSettings> settings = Settings();
    int porta = StrToInt("1" + settings->Porta);
    ServerContainer1->DSTCPServerTransport1.Port = porta;
    ServerContainer1->DSHTTPService1.DSPort = porta;
    ServerContainer1->DSHTTPService1.HttpPort = static_cast<std::uint16_t>(StrToInt(settings->Porta));
}
