#include "uServerPrincipal.h"

// Connect: apply the port and start the server. A failure of the start is
// raised to the caller and changes nothing on the window.
void TFormPrincipal::BitBtnConectarClick() {
    using C = FormPrincipalControl;
    const auto s = Settings();
    if (!s->Porta.empty() && !s->Usuario.empty() && !s->Senha.empty()) {
        arruma_porta();
        DSServer1().Start();
        if (ServerStarted()) {
            SetControlVisible(C::BitBtnConectar, components_.BitBtnConectarVisible, false);
            SetControlVisible(C::BitBtnDesconectar, components_.BitBtnDesconectarVisible, true);
            SetLabelConectar("Conectado", clGreen);
            SetControlEnabled(C::Conectar1, components_.Conectar1Enabled, false);
            SetControlEnabled(C::Desconectar1, components_.Desconectar1Enabled, true);
        }
    } else if (!servico && View) {
        View->ShowMessage("Configurações do servidor ainda não definidas, favor verificar.");
    }
}

// Disconnect: stop the server (nothing when it is not started).
void TFormPrincipal::BitBtnDesconectarClick() {
    using C = FormPrincipalControl;
    DSServer1().Stop();
    SetControlVisible(C::BitBtnConectar, components_.BitBtnConectarVisible, true);
    SetControlVisible(C::BitBtnDesconectar, components_.BitBtnDesconectarVisible, false);
    SetLabelConectar("Desconectado", clRed);
    SetControlEnabled(C::Conectar1, components_.Conectar1Enabled, true);
    SetControlEnabled(C::Desconectar1, components_.Desconectar1Enabled, false);
}

// Tray "Conectar": the menu items switch whatever the connect reached, and the
// balloon shows the status that it reached.
void TFormPrincipal::Conectar1Click() {
    using C = FormPrincipalControl;
    BitBtnConectarClick();
    SetControlEnabled(C::Conectar1, components_.Conectar1Enabled, false);
    SetControlEnabled(C::Desconectar1, components_.Desconectar1Enabled, true);
    SetBalloon(FullBalloonText());
    if (View)
        View->ShowBalloonHint();
}

void TFormPrincipal::Desconectar1Click() {
    using C = FormPrincipalControl;
    BitBtnDesconectarClick();
    SetControlEnabled(C::Conectar1, components_.Conectar1Enabled, true);
    SetControlEnabled(C::Desconectar1, components_.Desconectar1Enabled, false);
    SetBalloon(ShortBalloonText());
    if (View)
        View->ShowBalloonHint();
}
