#include "uServerPrincipal.h"

namespace {
constexpr const char *kPerguntaDesconectar = "O servidor está conectado, deseja desconectar o servidor?";
constexpr const char *kTituloFinalizar = "Finalizar Servidor";
} // namespace

// Exit: with the server started, only a Yes stops it and closes the window.
void TFormPrincipal::BitBtnSairClick() {
    if (ServerStarted()) {
        if (View && View->AskYesNo(kPerguntaDesconectar, kTituloFinalizar)) {
            DSServer1().Stop();
            View->CloseWindow();
        }
        return;
    }
    if (View)
        View->CloseWindow();
}

void TFormPrincipal::Sair1Click() { BitBtnSairClick(); }

// Any closing of the window: a running server keeps the window open unless the
// user agrees to stop it.
void TFormPrincipal::FormClose(TCloseAction &Action) {
    if (!ServerStarted())
        return;
    if (View && View->AskYesNo(kPerguntaDesconectar, kTituloFinalizar))
        DSServer1().Stop();
    else
        Action = TCloseAction::caNone;
}
