#pragma once

#include "ServerMethodsUnit1Database.h"
#include "uServerPrincipal.h"

// The main window object as the database side of the remote methods sees it:
// its Settings record, Base, servico, Fiscal and its view's message box. The
// object must outlive every module given the result.
TDatabaseHost DatabaseHostOf(TFormPrincipal &form);
