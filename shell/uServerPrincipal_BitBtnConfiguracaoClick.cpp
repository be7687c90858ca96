#include "uServerPrincipal.h"

// Settings button: the dialog opens only while the status does not read
// "Conectado"; the settings are reloaded when it closes, however it closed.
void TFormPrincipal::BitBtnConfiguracaoClick() {
    if (components_.LabelConectar == "Conectado") {
        if (View)
            View->ShowMessage("Desconecte primeiro.");
        return;
    }
    if (View)
        View->ShowSettingsDialog();
    carregaParametro();
}
