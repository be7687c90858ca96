#include "servidor_cfg.h"
#include "uServerPrincipal.h"

#include "DatabaseAliases.h"
#include "executable_dir.h"
#include "first_line.h"
#include "settings_text.h"
#include "uScramble.h"

namespace {

// Only "a" to "z" change; accented letters stay as they are.
std::string upperAscii(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The first `count` characters of a UTF-8 text, starting at byte `from`.
std::string utf8Slice(const std::string &s, size_t from, size_t count) {
    size_t end = from;
    while (end < s.size() && count > 0) {
        ++end;
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
            ++end;
        --count;
    }
    return from < s.size() ? s.substr(from, end - from) : std::string();
}

bool startsWith(const std::string &s, const std::string &prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

void TFormPrincipal::peganome() {
    Dir = ExecutableFolder();
    os::changeDir(Dir);

    // The file is 8-bit text: one byte is one character, so the cut is made on
    // bytes and the text is converted afterwards.
    const std::string line = os::readFirstLine(Dir + "SYS_INFO.INI", 14 + 300);
    const std::string location = FromAnsi(upperAscii(Trim(line.size() > 14 ? line.substr(14) : "")));
    Base = location;
    Destino = location;

    if (Base.find(".GDB") != std::string::npos || Base.find(".MDB") != std::string::npos ||
        Base.find(".FDB") != std::string::npos)
        return;
    Base = GetAliasParam(Base, "SERVER NAME");
}

std::string TFormPrincipal::GetAliasParam(const std::string &AliasName, const std::string &ParamName) {
    std::string result;
    if (ParamName.empty() || AliasName.empty()) {
        if (!servico && View)
            View->ShowMessage("Parametros incorretos para procurar dados da base de dados.");
        return result;
    }

    std::vector<std::string> params;
    try {
        params = GetAliasParams(AliasName);
    } catch (const std::exception &) {
        return result; // no such alias, or no alias configuration at all
    }

    static const std::string kDatabaseName = "DATABASE NAME=";
    const std::string prefix = ParamName + "=";
    for (const std::string &line : params) {
        if (startsWith(line, kDatabaseName) && (ParamName == "SERVER NAME" || prefix == kDatabaseName))
            result = utf8Slice(line, kDatabaseName.size(), 100);
        else if (startsWith(line, prefix))
            result = utf8Slice(line, prefix.size(), 100);
    }
    return result;
}
