#include "DatabaseAliases.h"

#include <cstdlib>
#include <fstream>

#include "executable_dir.h"

namespace {

std::string trim(const std::string &s) {
    const char *ws = " \t\r\n\f\v";
    auto b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    auto e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

bool sameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

std::string AliasFilePath() {
    if (const char *env = std::getenv("CORVANE_DB_ALIASES"); env && *env)
        return env;
    return os::executableDir() + "aliases.ini";
}

std::vector<std::string> GetAliasParams(const std::string &path, const std::string &alias) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw AliasError("alias configuration " + path + " cannot be read");

    std::vector<std::string> params;
    bool inAlias = false, found = false;
    std::string raw;
    bool first = true;
    while (std::getline(in, raw)) {
        if (first && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
            raw.erase(0, 3);
        first = false;
        std::string line = trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            if (found)
                break; // the alias's section is over
            inAlias = sameName(trim(line.substr(1, line.size() - 2)), trim(alias));
            found = inAlias;
            continue;
        }
        if (!inAlias)
            continue;
        auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        params.push_back(trim(line.substr(0, eq)) + "=" + trim(line.substr(eq + 1)));
    }
    if (in.bad())
        throw AliasError("alias configuration " + path + " cannot be read");
    if (!found)
        throw AliasError("alias " + alias + " is not defined");
    return params;
}

std::vector<std::string> GetAliasParams(const std::string &alias) {
    return GetAliasParams(AliasFilePath(), alias);
}
