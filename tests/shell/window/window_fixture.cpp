#include "window_fixture.h"

#include "servidor_cfg.h"
#include "uScramble.h"

namespace window_test {

std::vector<std::string> &ArrumaPortaCalls::ports() {
    static std::vector<std::string> calls;
    return calls;
}

void WriteSettings(const std::string &folder, const std::string &porta, const std::string &usuario,
                   const std::string &senha) {
    ServidorCfgLines lines{scramble(porta), scramble(usuario), scramble(senha), scramble("0"), "1", "/dev/null",
                           "11",           "N",              "10",            "10",           "N", "N",         ""};
    WriteServidorCfg(folder + "/" + kServidorCfgName, lines);
}

} // namespace window_test

// Stands in for the transports' port hand-off: the window's tests use a fake
// server, so only the call and its port are of interest here.
void TFormPrincipal::arruma_porta() { window_test::ArrumaPortaCalls::ports().push_back(Settings()->Porta); }
