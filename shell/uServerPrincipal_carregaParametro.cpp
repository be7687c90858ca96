#include <stdexcept>

#include "servidor_cfg.h"
#include "settings_text.h"
#include "uScramble.h"
#include "uServerPrincipal.h"

// Loads servidor.cfg into a new Settings record and swaps it in whole, so that
// transport threads reading the record see either the old or the new one.
void TFormPrincipal::carregaParametro() {
    for (;;) {
        // 1. The folder of the executable.
        Dir = ExecutableFolder();
        const std::string path = Dir + kServidorCfgName;

        // 2. No file: the service cannot ask anybody; the desktop asks through the dialog.
        if (!ServidorCfgExists(path)) {
            if (servico || View == nullptr)
                throw std::runtime_error("Arquivo de configuração não encontrado: " + path);
            View->ShowSettingsDialog();
            continue;
        }

        // 3.-5. Read the 13 lines. A failure leaves the current record untouched.
        const ServidorCfgLines lines = ReadServidorCfg(path);

        TSettings s;
        s.op_impr = FromAnsi(lines[4]);
        s.vimpressora = FromAnsi(lines[5]);
        s.fonte_tam = FromAnsi(lines[6]);
        s.negrito = FromAnsi(lines[7]);
        s.mesquerda = FromAnsi(lines[8]);
        s.msuperior = FromAnsi(lines[9]);
        s.condensa = FromAnsi(lines[10]);
        s.corta = FromAnsi(lines[11]);
        s.vtipo_impressora = FromAnsi(lines[12]);

        // 6. The first four lines are scrambled; the password is kept upper-case.
        s.Senha = UpperCase(FromAnsi(unscramble(lines[2])));
        s.Porta = FromAnsi(unscramble(lines[0]));
        s.Usuario = FromAnsi(unscramble(lines[1]));
        s.Minimizar = FromAnsi(unscramble(lines[3]));

        // 7. The port label.
        SetPortLabel(s.Porta);

        // 8. Defaults.
        if (DigitsOnly(s.fonte_tam).empty())
            s.fonte_tam = "11";
        if (DigitsOnly(s.mesquerda).empty())
            s.mesquerda = "10";
        if (DigitsOnly(s.msuperior).empty())
            s.msuperior = "10";
        if (s.negrito.empty())
            s.negrito = "N";

        // 9. The model name without surrounding blanks.
        s.vtipo_impressora = Trim(s.vtipo_impressora);

        ReplaceSettings(std::move(s));

        // 10. Hand the port to the transports.
        arruma_porta();
        return;
    }
}
