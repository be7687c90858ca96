#include "uServerConfig.h"

#include "local_address.h"
#include "runtime_convert.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>


#include "runtime_errors.h"
#include "settings_text.h"
#include "uScramble.h"

using C = ServerConfigControl;

namespace {

// The lines of the settings file as last read by any dialog of this program.
std::mutex storedMutex;
std::string storedFolder;
ServidorCfgLines storedLines;

// A Boolean as the runtime reads it: a number (zero is false), or "True"/"False"
// in any case.
bool TryStrToBool(const std::string &text, bool &value) {
    int n = 0;
    if (TryStrToInt(text, n)) {
        value = n != 0;
        return true;
    }
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == "true" || lower == "false") {
        value = lower == "true";
        return true;
    }
    char *end = nullptr;
    errno = 0;
    const double d = std::strtod(text.c_str(), &end);
    if (!text.empty() && end && *end == '\0' && errno == 0 && text.find_first_of("xXnN") == std::string::npos) {
        value = d != 0;
        return true;
    }
    return false;
}

// The number made of a line's digits, brought into the spin box's range.
int SpinValueFromDigits(const std::string &digits, ServerConfigControl spinEdit) {
    const SpinEditRange r = SpinRange(spinEdit);
    const std::string significant = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    if (significant.size() > 9) // more than any range holds
        return r.MaxValue;
    return std::clamp(std::stoi(significant.empty() ? "0" : significant), r.MinValue, r.MaxValue);
}

// Bytes that end a line or the file when read back; a lone CR ends a line for
// some readers, so scrambling avoids it too.
bool BreaksLines(const std::string &bytes, bool loneCr = true) {
    return bytes.find_first_of(loneCr ? std::string("\n\r\x1A", 3) : std::string("\n\x1A", 2)) != std::string::npos;
}

// scramble() for a line of the file: a key whose shifted bytes would include a
// line end or the end-of-file byte would split the line or cut the file short
// when read back, so another key is drawn. A value that no key can store is refused.
std::string ScrambleLine(const std::string &value) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string line = scramble(value);
        if (!BreaksLines(line))
            return line;
    }
    for (int key = 2; key <= 9; ++key) {
        std::string line = scramble(value, key);
        if (!BreaksLines(line))
            return line;
    }
    throw EArgumentException("Texto com caracteres de controle não pode ser gravado");
}

} // namespace

TFormServerConfig::TFormServerConfig(IServerConfigView &view, TServerConfigServer server, PrinterList printers,
                                     AddressSource localAddress)
    : view_(view), server_(std::move(server)), printers_(std::move(printers)), localAddress_(std::move(localAddress)) {}

void TFormServerConfig::FormCreate() {
    view_.SetTop(C::Panel2, 129);
    view_.SetTop(C::Panel3, 129);
}

void TFormServerConfig::FormShow() {
    view_.SetText(C::LabelNumeroIP, localAddress_ ? localAddress_() : std::string());
    LoadSettingsIntoDialog();
    if (printers_)
        for (const auto &name : printers_())
            view_.AddItem(C::ComboBox1, name);
    view_.AddItem(C::ComboBox1, " ");
}

void TFormServerConfig::LoadSettingsIntoDialog() {
    const std::string folder = ExecutableFolder();
    {
        std::lock_guard lock(storedMutex);
        storedFolder = folder;
    }
    const std::string path = folder + kServidorCfgName;
    if (ServidorCfgExists(path)) {
        const ServidorCfgLines lines = ReadServidorCfg(path);
        {
            std::lock_guard lock(storedMutex);
            storedLines = lines;
        }
        view_.SetText(C::EditPorta, FromAnsi(unscramble(lines[0])));
        view_.SetText(C::EditUsuario, FromAnsi(unscramble(lines[1])));
        view_.SetText(C::EditSenha, UpperCase(FromAnsi(unscramble(lines[2]))));
        // A minimise line that is no Boolean leaves the box as it is rather than
        // keeping the dialog from opening.
        bool minimizar = false;
        if (!lines[3].empty() && TryStrToBool(FromAnsi(unscramble(lines[3])), minimizar))
            view_.SetChecked(C::CheckBoxMinimizar, minimizar);
        if (lines[4] == "2")
            view_.SetChecked(C::RadioButton2, true);
        else
            view_.SetChecked(C::RadioButton1, true);
        const std::pair<int, ServerConfigControl> spins[] = {{6, C::SpinEdit1}, {8, C::SpinEdit2}, {9, C::SpinEdit3}};
        for (const auto &[line, spin] : spins) {
            const std::string digits = DigitsOnly(lines[line]);
            if (!digits.empty())
                view_.SetValue(spin, SpinValueFromDigits(digits, spin));
        }
        view_.SetChecked(C::CheckBox1, lines[7] == "S");
        view_.SetChecked(C::CheckCondensa, lines[10] == "S");
        view_.SetChecked(C::CheckCortar, lines[11] == "S");
        view_.SetText(C::Tipo_impressora, Trim(FromAnsi(lines[12])));
        view_.SetText(C::ComboBox1, FromAnsi(lines[5]));
    }
    if (view_.Checked(C::RadioButton2))
        RadioButton2Click();
    else
        RadioButton1Click();
}

void TFormServerConfig::RadioButton1Click() {
    view_.SetText(C::Label3, "Caminho Impressora:");
    view_.SetVisible(C::Panel2, false);
    view_.SetVisible(C::Panel3, true);
}

void TFormServerConfig::RadioButton2Click() {
    view_.SetText(C::Label3, "Nome Impressora:");
    view_.SetVisible(C::Panel2, true);
    view_.SetVisible(C::Panel3, false);
}

void TFormServerConfig::EditPortaKeyPress(char32_t Key) {
    if (!((Key >= U'0' && Key <= U'9') || Key == 8))
        throw EArgumentException("Digite apenas números");
}

void TFormServerConfig::EditPortaExit() {
    const int porta = StrToInt(view_.Text(C::EditPorta));
    if (porta < 1 || porta > 65536)
        throw EArgumentException("Esta Porta não é válida! (0 ~ 65536)");
}

void TFormServerConfig::BitBtnAplicarClick() {
    std::string folder;
    ServidorCfgLines stored;
    {
        std::lock_guard lock(storedMutex);
        folder = storedFolder;
        stored = storedLines;
    }
    const std::string porta = view_.Text(C::EditPorta);
    const std::string usuario = view_.Text(C::EditUsuario);
    const std::string senha = view_.Text(C::EditSenha);

    // 1. The password line: the stored line itself when the box holds exactly it.
    const std::string senhaLine = senha == FromAnsi(stored[2]) ? stored[2] : ScrambleLine(ToAnsi(UpperCase(senha)));

    // 2.-4. The 13 lines.
    const auto flag = [&](ServerConfigControl c) { return std::string(view_.Checked(c) ? "S" : "N"); };
    ServidorCfgLines lines;
    lines[0] = ScrambleLine(ToAnsi(porta));
    lines[1] = ScrambleLine(ToAnsi(UpperCase(usuario)));
    lines[2] = senhaLine;
    lines[3] = ScrambleLine(view_.Checked(C::CheckBoxMinimizar) ? "-1" : "0");
    lines[4] = view_.Checked(C::RadioButton1) ? "1" : "2";
    lines[5] = ToAnsi(Trim(view_.Text(C::ComboBox1)));
    lines[6] = std::to_string(view_.Value(C::SpinEdit1));
    lines[7] = flag(C::CheckBox1);
    lines[8] = std::to_string(view_.Value(C::SpinEdit2));
    lines[9] = std::to_string(view_.Value(C::SpinEdit3));
    lines[10] = flag(C::CheckCondensa);
    lines[11] = flag(C::CheckCortar);
    lines[12] = ToAnsi(Trim(view_.Text(C::Tipo_impressora)));
    for (const auto &line : lines)
        if (BreaksLines(line, false))
            throw EArgumentException("Texto com caracteres de controle não pode ser gravado");
    WriteServidorCfg(folder + kServidorCfgName, lines);

    // 5. Restart a running server when port, user or password changed.
    if (server_.Started && server_.Started()) {
        const bool same = porta == FromAnsi(unscramble(stored[0])) && usuario == FromAnsi(unscramble(stored[1])) &&
                          unscramble(senhaLine) == unscramble(stored[2]);
        if (!same) {
            server_.Stop();
            server_.Start();
        }
    }

    // 6.
    view_.Close();
}

void TFormServerConfig::BitBtnCancelarClick() {
    view_.Close();
}

bool TFormServerConfig::Handle(const std::function<void()> &handler) {
    try {
        handler();
        return true;
    } catch (const std::exception &e) {
        view_.ShowError(ErrorBoxText(e.what()));
        return false;
    }
}

std::string TFormServerConfig::ErrorBoxText(const std::string &message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

std::string TFormServerConfig::FirstLocalIPv4() { return os::firstLocalIPv4(); }

std::string TFormServerConfig::StoredFolder() {
    std::lock_guard lock(storedMutex);
    return storedFolder;
}

ServidorCfgLines TFormServerConfig::StoredLines() {
    std::lock_guard lock(storedMutex);
    return storedLines;
}
