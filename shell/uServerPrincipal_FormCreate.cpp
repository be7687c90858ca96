#include "uServerPrincipal.h"

void TFormPrincipal::FormCreate() {
    servico = false;
    peganome();
}
