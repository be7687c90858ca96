// The service program. Its start-up sequence grows with the server container and
// the service mode; for now it only proves the libraries link.
#include "uServerPrincipal.h"

int main() {
    TFormPrincipal FormPrincipal;
    return 0;
}
