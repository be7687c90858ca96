#include <stdexcept>

#include "uServerPrincipal.h"

// Built only while the shell has no hand-off of the port to the transports yet:
// the static shell library may still be pulled into this executable, and its
// settings loader refers to it. No GUI test calls it.
void TFormPrincipal::arruma_porta() {
    throw std::logic_error("arruma_porta is not built yet");
}
