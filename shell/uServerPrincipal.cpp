#include "uServerPrincipal.h"

TFormPrincipal::TFormPrincipal() = default;
TFormPrincipal::~TFormPrincipal() = default;
