#pragma once

#include <string>

// The print server's settings as loaded from servidor.cfg: every field is the
// text of its line (after unscrambling and defaults). Texts are UTF-8.
// The record is never changed in place: a load builds a new one and the holder
// swaps it in whole (see TFormPrincipal::ReplaceSettings).
struct TSettings {
    std::string Porta;            // port, decimal digits
    std::string Usuario;          // user name (upper case)
    std::string Senha;            // password (upper case)
    std::string Minimizar;        // "-1" or "0"
    std::string op_impr;          // "1" receipt printer, "2" page printer
    std::string vimpressora;      // receipt device path, or page printer name
    std::string fonte_tam;        // page font size
    std::string negrito;          // "S"/"N"
    std::string mesquerda;        // page left margin, millimetres
    std::string msuperior;        // page top margin, millimetres
    std::string condensa;         // "S"/"N"
    std::string corta;            // "S"/"N"
    std::string vtipo_impressora; // receipt printer model
};
