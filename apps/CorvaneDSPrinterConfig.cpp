// CorvaneDSPrinterConfig: shows and writes servidor.cfg from the command line,
// for machines with no screen. Every change goes through the settings dialog's
// own logic (TFormServerConfig on a window-less view), so the file is written by
// exactly the dialog's rules.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "runtime_errors.h"
#include "servidor_cfg.h"
#include "uScramble.h"
#include "uServerConfig.h"
#include "uServerConfigView.h"
#include "uServerPrincipal.h"
#include "uServerPrincipalDatabase.h"

namespace {

using C = ServerConfigControl;

// A refused value: printed with the option's name, exit code 2.
struct UsageError {
    std::string message;
};

struct Context {
    TServerConfigMemoryView view;
    TFormServerConfig *form = nullptr;
    bool changed = false;
    bool showPassword = false;
    bool checkDatabase = false;
    std::vector<std::string> notes;
};

// One command-line option. To add one, add an entry to Options().
struct Option {
    const char *name;
    const char *argument; // nullptr: a switch without a value
    const char *help;
    std::function<void(Context &, const std::string &)> apply;
    bool changesSettings = true;
};

std::string DialogError(const std::exception &e) {
    return TFormServerConfig::ErrorBoxText(e.what());
}

void RefuseControlCharacters(const std::string &option, const std::string &value) {
    if (std::any_of(value.begin(), value.end(), [](unsigned char c) { return c < 32 || c == 127; }))
        throw UsageError{option + ": control characters cannot be stored"};
}

bool ParseFlag(const std::string &option, const std::string &value) {
    std::string v = value;
    std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::tolower(c); });
    if (v == "yes" || v == "y" || v == "true" || v == "1" || v == "on")
        return true;
    if (v == "no" || v == "n" || v == "false" || v == "0" || v == "off")
        return false;
    throw UsageError{option + ": '" + value + "' is neither yes nor no"};
}

// The port as the dialog's port box takes it: typed key by key, then checked on leaving the box.
void SetPort(Context &c, const std::string &value) {
    if (value.size() > static_cast<size_t>(kEditPortaMaxLength))
        throw UsageError{"--port: at most " + std::to_string(kEditPortaMaxLength) + " digits"};
    try {
        for (unsigned char ch : value)
            c.form->EditPortaKeyPress(ch);
        c.view.SetText(C::EditPorta, value);
        c.form->EditPortaExit();
    } catch (const std::exception &e) {
        throw UsageError{"--port: " + DialogError(e)};
    }
}

void SetSpin(Context &c, const char *option, ServerConfigControl spin, const std::string &value) {
    const SpinEditRange r = SpinRange(spin);
    const std::string range = std::to_string(r.MinValue) + " to " + std::to_string(r.MaxValue);
    if (value.empty() || value.size() > static_cast<size_t>(r.MaxLength) ||
        !std::all_of(value.begin(), value.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        throw UsageError{std::string(option) + ": '" + value + "' is not a whole number from " + range};
    const int n = std::stoi(value);
    if (n < r.MinValue || n > r.MaxValue)
        throw UsageError{std::string(option) + ": " + value + " is outside " + range};
    c.view.SetValue(spin, n);
}

std::string ReadPasswordFromStdin() {
    std::string line;
    if (!std::getline(std::cin, line))
        throw UsageError{"--password-stdin: nothing to read on standard input"};
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void SetText(Context &c, const char *option, ServerConfigControl control, const std::string &value) {
    RefuseControlCharacters(option, value);
    c.view.SetText(control, value);
}

const std::vector<Option> &Options() {
    static const std::vector<Option> options{
        {"--dir", "FOLDER", "folder of servidor.cfg (default: this program's folder)", nullptr, false},
        {"--show-password", nullptr, "show the password in clear",
         [](Context &c, const std::string &) { c.showPassword = true; }, false},
        {"--check-database", nullptr,
         "open the Firebird database that SYS_INFO.INI names, with the stored user and password, and report",
         [](Context &c, const std::string &) { c.checkDatabase = true; }, false},
        {"--port", "N", "port (1 to 65536; the TCP port is this with a 1 in front)", SetPort},
        {"--user", "TEXT", "user name of the TCP clients (saved in upper case)",
         [](Context &c, const std::string &v) { SetText(c, "--user", C::EditUsuario, v); }},
        {"--password", "TEXT", "password of the TCP clients (saved in upper case)",
         [](Context &c, const std::string &v) { SetText(c, "--password", C::EditSenha, v); }},
        {"--password-stdin", nullptr, "read the password from the first line of standard input",
         [](Context &c, const std::string &) {
             SetText(c, "--password-stdin", C::EditSenha, ReadPasswordFromStdin());
         }},
        {"--minimize", "yes|no", "minimise the desktop window to the tray",
         [](Context &c, const std::string &v) { c.view.SetChecked(C::CheckBoxMinimizar, ParseFlag("--minimize", v)); }},
        {"--printer-kind", "receipt|page", "receipt (thermal) printer or page printer",
         [](Context &c, const std::string &v) {
             if (v == "receipt")
                 c.view.SetChecked(C::RadioButton1, true);
             else if (v == "page")
                 c.view.SetChecked(C::RadioButton2, true);
             else
                 throw UsageError{"--printer-kind: '" + v + "' is neither receipt nor page"};
         }},
        {"--printer", "TEXT", "receipt printer device path, or page printer (CUPS queue) name",
         [](Context &c, const std::string &v) { SetText(c, "--printer", C::ComboBox1, v); }},
        {"--font-size", "N", "page font size (3 to 20)",
         [](Context &c, const std::string &v) { SetSpin(c, "--font-size", C::SpinEdit1, v); }},
        {"--bold", "yes|no", "bold page text",
         [](Context &c, const std::string &v) { c.view.SetChecked(C::CheckBox1, ParseFlag("--bold", v)); }},
        {"--left-margin", "MM", "page left margin in millimetres (0 to 999)",
         [](Context &c, const std::string &v) { SetSpin(c, "--left-margin", C::SpinEdit2, v); }},
        {"--top-margin", "MM", "page top margin in millimetres (0 to 999)",
         [](Context &c, const std::string &v) { SetSpin(c, "--top-margin", C::SpinEdit3, v); }},
        {"--condensed", "yes|no", "condensed receipt print",
         [](Context &c, const std::string &v) { c.view.SetChecked(C::CheckCondensa, ParseFlag("--condensed", v)); }},
        {"--cut", "yes|no", "cut the paper after each receipt",
         [](Context &c, const std::string &v) { c.view.SetChecked(C::CheckCortar, ParseFlag("--cut", v)); }},
        {"--model", "NAME", "receipt printer model (BEMATECH, CONTROL_ID, DARUMA, DIEBOLD, EPSON, FEASSO or empty)",
         [](Context &c, const std::string &v) {
             SetText(c, "--model", C::Tipo_impressora, v);
             const auto &known = TipoImpressoraItems();
             const std::string trimmed = Trim(v);
             if (!trimmed.empty() && std::find(known.begin(), known.end(), trimmed) == known.end())
                 c.notes.push_back("note: '" + trimmed + "' is no known model; the generic sequences will be used");
         }},
    };
    return options;
}

void PrintUsage(std::ostream &out) {
    out << "Usage: CorvaneDSPrinterConfig [--dir FOLDER] [--show-password] [SETTING...]\n"
           "Without settings, shows the current settings. With settings, changes them and\n"
           "writes servidor.cfg, as the settings dialog's \"Aplicar\" does.\n\nOptions:\n";
    for (const auto &o : Options()) {
        std::string head = std::string("  ") + o.name + (o.argument ? std::string(" ") + o.argument : "");
        out << head << std::string(head.size() < 32 ? 32 - head.size() : 1, ' ') << o.help << "\n";
    }
    out << "  --help                        this text\n";
}

void Show(const Context &c, const std::string &path, bool exists) {
    const auto yesNo = [&](ServerConfigControl ctl) { return c.view.Checked(ctl) ? "yes" : "no"; };
    const std::string senha = c.view.Text(C::EditSenha);
    std::string password = senha.empty() ? "(empty)" : "(set; --show-password shows it)";
    if (c.showPassword)
        password = senha;
    std::cout << "Settings file: " << path << (exists ? "" : " (missing: these are the values a first save writes)")
              << "\n"
              << "  port:              " << c.view.Text(C::EditPorta) << "\n"
              << "  user:              " << c.view.Text(C::EditUsuario) << "\n"
              << "  password:          " << password << "\n"
              << "  minimize:          " << yesNo(C::CheckBoxMinimizar) << "\n"
              << "  printer kind:      " << (c.view.Checked(C::RadioButton2) ? "page" : "receipt") << "\n"
              << "  printer:           " << c.view.Text(C::ComboBox1) << "\n"
              << "  font size:         " << c.view.Value(C::SpinEdit1) << "\n"
              << "  bold:              " << yesNo(C::CheckBox1) << "\n"
              << "  left margin (mm):  " << c.view.Value(C::SpinEdit2) << "\n"
              << "  top margin (mm):   " << c.view.Value(C::SpinEdit3) << "\n"
              << "  condensed:         " << yesNo(C::CheckCondensa) << "\n"
              << "  cut:               " << yesNo(C::CheckCortar) << "\n"
              << "  model:             " << c.view.Text(C::Tipo_impressora) << "\n";
}

// Loads the settings and the database location as the service does, opens the
// Firebird connection (its handlers run for real) and prints what happened.
// Exit status 0 when it connected.
int CheckDatabase() {
    TFormPrincipal FormPrincipal;
    try {
        FormPrincipal.carregaParametro();
    } catch (const std::exception &e) {
        std::cerr << "CorvaneDSPrinterConfig: cannot load the settings: " << e.what() << "\n";
        return 1;
    }
    try {
        FormPrincipal.peganome();
    } catch (const std::exception &e) {
        std::cerr << "CorvaneDSPrinterConfig: cannot read " << FormPrincipal.Dir << "SYS_INFO.INI: " << e.what()
                  << "\n";
    }
    TDatabaseHost host = DatabaseHostOf(FormPrincipal);
    host.ShowMessage = [](const std::string &text) { std::cerr << text << "\n"; };
    const TDatabaseCheck check = CheckDatabaseLink(host);
    std::cout << FormatDatabaseCheck(check);
    return check.Connected ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    // Split the arguments into options with their values, checking names first.
    std::vector<std::pair<const Option *, std::string>> given;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(std::cout);
            return 0;
        }
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const auto &options = Options();
        const auto it = std::find_if(options.begin(), options.end(), [&](const Option &o) { return arg == o.name; });
        if (it == options.end()) {
            std::cerr << "CorvaneDSPrinterConfig: unknown option '" << arg << "' (see --help)\n";
            return 2;
        }
        std::string value;
        if (it->argument) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                std::cerr << "CorvaneDSPrinterConfig: " << arg << " needs a value " << it->argument << "\n";
                return 2;
            }
        } else if (inlineValue) {
            std::cerr << "CorvaneDSPrinterConfig: " << arg << " takes no value\n";
            return 2;
        }
        if (std::string(it->name) == "--dir")
            SetExecutableFolder(value);
        else
            given.emplace_back(&*it, value);
    }

    const std::string folder = ExecutableFolder();
    if (std::error_code ec; !std::filesystem::is_directory(folder, ec)) {
        std::cerr << "CorvaneDSPrinterConfig: " << folder << " is not a folder\n";
        return 1;
    }

    Context c;
    // This process runs no server: the running service reads the file at its next start.
    TFormServerConfig form(c.view, {[] { return false; }, [] {}, [] {}}, {});
    c.form = &form;
    const std::string path = ExecutableFolder() + kServidorCfgName;
    bool exists = false;
    try {
        form.FormCreate();
        exists = ServidorCfgExists(path);
        form.FormShow();
    } catch (const std::exception &e) {
        std::cerr << "CorvaneDSPrinterConfig: cannot read " << path << ": " << e.what() << "\n";
        return 1;
    }

    try {
        for (const auto &[option, value] : given) {
            option->apply(c, value);
            c.changed = c.changed || option->changesSettings;
        }
    } catch (const UsageError &e) {
        std::cerr << "CorvaneDSPrinterConfig: " << e.message << "\n";
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "CorvaneDSPrinterConfig: " << e.what() << "\n";
        return 2;
    }
    for (const auto &note : c.notes)
        std::cerr << note << "\n";

    if (c.checkDatabase && !c.changed)
        return CheckDatabase();
    if (!c.changed) {
        Show(c, path, exists);
        return 0;
    }
    try {
        form.BitBtnAplicarClick();
    } catch (const std::exception &e) {
        std::cerr << "CorvaneDSPrinterConfig: cannot write " << path << ": " << e.what() << "\n";
        return 1;
    }
    std::cout << "Saved " << path << ". Restart CorvaneDSPrinterService for the changes to take effect.\n";
    return c.checkDatabase ? CheckDatabase() : 0;
}
