#pragma once

#include <memory>

#include "ServerContainerUnit1.h"

class TFormPrincipal;

// The process's server container, wired to the main window object: the remote
// methods read its Settings record, print pages through its imprime and take
// the database location from it; the form drives the container's server
// (form.ServerContainer1 is set). Transport log lines go to the event log.
// The form must outlive the container.
std::unique_ptr<TServerContainer1> CreateServerContainer1(TFormPrincipal &form);
