#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Settings.h"
#include "uServerConfig.h"
#include "uServerPrincipalView.h"

namespace printers {
class PrinterSystem;
}
class TServerContainer1;

// The main window object: the process-wide holder of the Settings record and of
// the operations that read or fill it. Plain C++; a Qt view drives it in the
// desktop program and the service drives it without one.
class TFormPrincipal {
public:
    TFormPrincipal();
    ~TFormPrincipal();
    TFormPrincipal(const TFormPrincipal &) = delete;
    TFormPrincipal &operator=(const TFormPrincipal &) = delete;

    // The current record, as an immutable snapshot: a reader keeps the record it
    // got even while a load swaps in a new one.
    std::shared_ptr<const TSettings> Settings() const { return settings_.load(); }
    void ReplaceSettings(TSettings record) {
        settings_.store(std::make_shared<const TSettings>(std::move(record)));
    }

    // Fields held beside the record.
    std::string Dir;     // folder of the executable, with its trailing separator
    std::string Base;    // database location
    std::string Destino; // database location as read
    bool Fiscal = false;
    std::atomic<bool> servico{false}; // set while running as a service

    // The window, when there is one (desktop program, tests); null in the service.
    IFormPrincipalView *View = nullptr;

    // ---- creation handler (uServerPrincipal_FormCreate.cpp) ----
    // Clears servico and reads the database location.
    void FormCreate();

    // ---- page printing (uServerPrincipal_imprime.cpp) ----
    bool imprime(const std::string &value, std::string &erro);
    // Where imprime prints; null for the machine's CUPS printers (tests may wrap them).
    std::shared_ptr<printers::PrinterSystem> PagePrinters;

    // ---- settings loader (uServerPrincipal_carregaParametro.cpp) ----
    void carregaParametro();

    // ---- transports' port (uServerPrincipal_arruma_porta.cpp) ----
    void arruma_porta();
    // The server container, set by whoever creates both (start-up, tests).
    TServerContainer1 *ServerContainer1 = nullptr;

    // ---- database location (uServerPrincipal_peganome.cpp) ----
    void peganome();
    std::string GetAliasParam(const std::string &AliasName, const std::string &ParamName);

    // ---- the window's handlers (uServerPrincipal_<group>.cpp) ----
    // The window starts and stops ServerContainer1->DSServer1. When this is set
    // it drives these operations instead (tests use a fake server).
    TServerConfigServer ServerStandIn;
    // Started/Stop/Start of the server the window drives, for the settings
    // dialog. Without a container the server counts as stopped.
    TServerConfigServer DSServer1();
    // The program's command-line parameters, without the program's name.
    std::vector<std::string> Parameters;
    // The window's tag: 1 once the activation hook is installed.
    int Tag = 0;
    // Where handler failures go: the system event log by default.
    std::function<void(const std::string &)> LogError;

    enum class TCloseAction { caNone, caHide, caFree };

    void FormShow();
    void FormClose(TCloseAction &Action);
    void BitBtnConectarClick();
    void BitBtnDesconectarClick();
    void BitBtnConfiguracaoClick();
    void BitBtnSairClick();
    void Sair1Click();
    void Conectar1Click();
    void Desconectar1Click();
    void Abrir1Click();
    void TrayIcon1DblClick();
    void ApplicationEvents1Minimize();
    void Timer1Timer();
    // Answers the activation message "D10EDA" with 0.
    long ActivationWindowProc();

    // Runs a handler as the window's event loop does: a failure it raises goes to
    // LogError (nothing on the screen). Returns whether it succeeded.
    bool HandleEvent(const std::function<void()> &handler);

    // Pushes every component's current state to the view (a new view starts
    // from the form's design).
    void RefreshView();

    // Sets the port label (LabelNumeroPorta) and shows it in the view.
    void SetPortLabel(const std::string &caption);

    // Balloon texts built from the labels' current captions.
    std::string FullBalloonText() const;
    std::string ShortBalloonText() const;

    // The components' state as the handlers left it.
    struct TComponents {
        std::string LabelNumeroIP;
        std::string LabelNumeroPorta;
        std::string LabelConectar = "Desconectado";
        TColor LabelConectarColor = clWindowText;
        bool BitBtnConectarVisible = true;
        bool BitBtnDesconectarVisible = false;
        bool Conectar1Enabled = true;
        bool Desconectar1Enabled = true;
        bool TrayIcon1Visible = false;
        bool Timer1Enabled = false;
        std::string BalloonHint;
    };
    const TComponents &Components() const { return components_; }

private:
    bool ServerStarted();
    void SetLabelConectar(const std::string &caption, TColor color);
    void SetControlVisible(FormPrincipalControl control, bool &field, bool visible);
    void SetControlEnabled(FormPrincipalControl control, bool &field, bool enabled);
    void SetBalloon(const std::string &text);
    void SendToTray();

    TComponents components_;
    bool noTrayNoticeShown_ = false;

    std::atomic<std::shared_ptr<const TSettings>> settings_{std::make_shared<const TSettings>()};
};
