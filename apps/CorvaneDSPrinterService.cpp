#include "ServiceApplication.h"

int main(int argc, char **argv) { return RunServiceApplication(argc, argv); }
