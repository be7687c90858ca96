#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "Settings.h"
#include "uServerPrincipalView.h"

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

    // ---- page printing (uServerPrincipal_imprime.cpp) ----
    bool imprime(const std::string &value, std::string &erro);

    // ---- settings loader (uServerPrincipal_carregaParametro.cpp) ----
    void carregaParametro();

    // ---- transports' port (uServerPrincipal_arruma_porta.cpp) ----
    void arruma_porta();
    // The server container, set by whoever creates both (start-up, tests).
    TServerContainer1 *ServerContainer1 = nullptr;

    // ---- database location (uServerPrincipal_peganome.cpp) ----
    void peganome();
    std::string GetAliasParam(const std::string &AliasName, const std::string &ParamName);

private:
    std::atomic<std::shared_ptr<const TSettings>> settings_{std::make_shared<const TSettings>()};
};
