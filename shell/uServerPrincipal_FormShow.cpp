#include <algorithm>
#include <cctype>

#include "local_address.h"
#include "uServerPrincipal.h"

namespace {

bool isAutoSwitch(const std::vector<std::string> &parameters) {
    if (parameters.empty())
        return false;
    std::string first = parameters.front();
    std::transform(first.begin(), first.end(), first.begin(), [](unsigned char c) { return std::tolower(c); });
    return first == "/a";
}

} // namespace

// Runs at every showing of the window: the first one and each restore from the tray.
void TFormPrincipal::FormShow() {
    using C = FormPrincipalControl;

    // 1. The activation hook, once per window.
    if (!servico && Tag == 0) {
        Tag = 1;
        if (View)
            View->InstallActivationHook();
    }

    // 2. The machine's address.
    if (!servico) {
        components_.LabelNumeroIP = os::firstLocalIPv4();
        if (View)
            View->SetCaption(C::LabelNumeroIP, components_.LabelNumeroIP);
    }

    // 3. Reload the settings on every showing; a failure ends the handler here.
    carregaParametro();

    // 4. Service: connect and nothing else.
    if (servico) {
        BitBtnConectarClick();
        return;
    }

    // 5. "/a" (any letter case, first parameter only): connect and go to the tray.
    if (isAutoSwitch(Parameters)) {
        if (components_.LabelConectar == "Desconectado") {
            Conectar1Click();
        } else {
            SetBalloon(FullBalloonText());
            SetControlEnabled(C::Conectar1, components_.Conectar1Enabled, false);
            SetControlEnabled(C::Desconectar1, components_.Desconectar1Enabled, true);
        }
        SetControlVisible(C::TrayIcon1, components_.TrayIcon1Visible, true);
        if (View)
            View->ShowBalloonHint();
        SetControlEnabled(C::Timer1, components_.Timer1Enabled, true);
    }
}

// Another process asked for the window: restore the application's window and
// bring it to the front. The tray icon and Timer1 stay as they are.
long TFormPrincipal::ActivationWindowProc() {
    if (View) {
        View->RestoreApplication();
        View->BringToFront();
    }
    return 0;
}
