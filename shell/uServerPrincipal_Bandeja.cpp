#include "uServerPrincipal.h"

namespace {
constexpr const char *kSemBandeja =
    "Não há área de notificação nesta área de trabalho: a janela fica minimizada na barra de tarefas.";
} // namespace

// Tray "Abrir" and a double-click on the icon: back on the screen, in front.
void TFormPrincipal::Abrir1Click() {
    using C = FormPrincipalControl;
    SetControlVisible(C::TrayIcon1, components_.TrayIcon1Visible, false);
    if (View) {
        View->ShowWindow();
        View->SetWindowState(TWindowState::wsNormal);
        View->BringToFront();
    }
    SetControlEnabled(C::Timer1, components_.Timer1Enabled, false);
}

void TFormPrincipal::TrayIcon1DblClick() { Abrir1Click(); }

void TFormPrincipal::ApplicationEvents1Minimize() {
    using C = FormPrincipalControl;
    if (View && !View->TrayAvailable()) {
        SendToTray();
        return;
    }
    if (View) {
        View->HideWindow();
        View->SetWindowState(TWindowState::wsMinimized);
    }
    SetBalloon(components_.LabelConectar == "Desconectado" ? ShortBalloonText() : FullBalloonText());
    SetControlVisible(C::TrayIcon1, components_.TrayIcon1Visible, true);
    if (View)
        View->ShowBalloonHint();
}

void TFormPrincipal::Timer1Timer() {
    SetControlEnabled(FormPrincipalControl::Timer1, components_.Timer1Enabled, false);
    if (!View)
        return;
    if (!View->TrayAvailable())
        SendToTray();
    else
        View->HideWindow();
}

// Without a notification area a hidden window could not be reached again: the
// window stays minimised in the task bar instead, and the user is told once.
void TFormPrincipal::SendToTray() {
    View->SetWindowState(TWindowState::wsMinimized);
    if (!noTrayNoticeShown_ && !servico) {
        noTrayNoticeShown_ = true;
        View->ShowMessage(kSemBandeja);
    }
}
