#pragma once

#include <functional>
#include <string>
#include <vector>

#include "servidor_cfg.h"
#include "uServerConfigView.h"

// The server operations the settings dialog uses to restart a running server.
struct TServerConfigServer {
    std::function<bool()> Started;
    std::function<void()> Stop;
    std::function<void()> Start;
};

// The settings dialog's logic: fills its view from servidor.cfg, checks the port
// box, and on "&Aplicar" writes the file and restarts a running server whose
// access settings changed. The only writer of servidor.cfg.
class TFormServerConfig {
public:
    using PrinterList = std::function<std::vector<std::string>()>;
    using AddressSource = std::function<std::string()>;

    TFormServerConfig(IServerConfigView &view, TServerConfigServer server, PrinterList printers,
                      AddressSource localAddress = FirstLocalIPv4);

    // Event handlers, as the view calls them. Errors leave them as exceptions;
    // Handle() shows them the way the application's error box does.
    void FormCreate();
    void FormShow();
    void RadioButton1Click();
    void RadioButton2Click();
    void EditPortaKeyPress(char32_t Key);
    void EditPortaExit();
    void BitBtnAplicarClick();
    void BitBtnCancelarClick();

    // Runs a handler; an error is shown in the error box. Returns whether it succeeded.
    bool Handle(const std::function<void()> &handler);

    // The error box's text for a message: a full stop is added when the last
    // character's code is above the full stop's.
    static std::string ErrorBoxText(const std::string &message);

    // The machine's first non-loopback IPv4 address; empty when there is none.
    static std::string FirstLocalIPv4();

    // The folder and raw lines of servidor.cfg as a dialog last read them. They
    // belong to the program, not to one dialog: a later dialog that finds no file
    // still compares against them.
    static std::string StoredFolder();
    static ServidorCfgLines StoredLines();

private:
    void LoadSettingsIntoDialog();

    IServerConfigView &view_;
    TServerConfigServer server_;
    PrinterList printers_;
    AddressSource localAddress_;
};
