#include "arruma_porta_recorder.h"

#include "uServerPrincipal.h"

ArrumaPortaRecorder &ArrumaPortaRecorder::instance() {
    static ArrumaPortaRecorder recorder;
    return recorder;
}

// Stands in for the server host's hand-off: records the port it was given.
void TFormPrincipal::arruma_porta() {
    auto &r = ArrumaPortaRecorder::instance();
    r.ports.push_back(Settings()->Porta);
    if (r.failure)
        throw std::runtime_error(r.failure);
}
