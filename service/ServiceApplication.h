#pragma once

// The service program's main sequence: creates the service module, the server
// container (stopped) and the main window object, then acts on the switches:
// "INSTALL"/"UNINSTALL" (with "SILENT") register or remove the systemd unit;
// started by systemd, or with "FOREGROUND", it runs the service start until a
// stop request; started any other way it logs why it cannot run and fails.
int RunServiceApplication(int argc, char **argv);
