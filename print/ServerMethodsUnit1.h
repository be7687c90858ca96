#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Settings.h"
#include "json_value.h"

// The remote methods module: one instance per client session. It reads the
// Settings record through `settings` at the moment of use and prints pages
// through `imprime` (both owned by the main window object).
class TServerMethods1 {
public:
    using SettingsSource = std::function<std::shared_ptr<const TSettings>()>;
    using PagePrinter = std::function<bool(const std::string &value, std::string &erro)>;

    TServerMethods1(SettingsSource settings, PagePrinter imprime);
    ~TServerMethods1();

    // Published remote methods. Texts are UTF-8. A null `Value` stands for a
    // JSON null. Two failures leave the method as exceptions (the transport
    // reports them as a failed call); everything else is a result text.
    std::string print_texto(const std::string &Usuario, const std::string &senha, const std::string &Value);
    std::string updateprint_json(const std::string &Usuario, const std::string &senha, const json::Value *Value);

private:
    // The printing steps shared by both methods, on the payload text.
    std::string imprimePayload(const std::string &payload);
    std::string imprimeCupom(const TSettings &settings, const std::string &payload);
    std::string imprimePagina(const TSettings &settings, const std::string &payload);

    SettingsSource settings_;
    PagePrinter imprime_;
};
