#include "uServerPrincipalDatabase.h"

TDatabaseHost DatabaseHostOf(TFormPrincipal &form) {
    TDatabaseHost host;
    host.Settings = [&form] { return form.Settings(); };
    host.Base = [&form] { return form.Base; };
    host.servico = [&form] { return form.servico.load(); };
    host.SetFiscal = [&form](bool Fiscal) { form.Fiscal = Fiscal; };
    host.ShowMessage = [&form](const std::string &text) {
        if (form.View)
            form.View->ShowMessage(text);
    };
    return host;
}
