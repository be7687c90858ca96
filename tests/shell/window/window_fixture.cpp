#include "window_fixture.h"


namespace window_test {

std::vector<std::string> &ArrumaPortaCalls::ports() {
    static std::vector<std::string> calls;
    return calls;
}

} // namespace window_test

// Stands in for the transports' port hand-off: the window's tests use a fake
// server, so only the call and its port are of interest here.
void TFormPrincipal::arruma_porta() {
    window_test::ArrumaPortaCalls::ports().push_back(Settings()->Porta);
}
