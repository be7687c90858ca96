#include "db_params.h"

namespace db {

namespace {
bool sameName(const std::string &line, size_t len, const std::string &name) {
    if (len != name.size())
        return false;
    for (size_t i = 0; i < len; ++i) {
        char a = line[i], b = name[i];
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 32);
        if (a != b)
            return false;
    }
    return true;
}
} // namespace

std::string ParamList::Value(const std::string &name) const {
    for (const auto &line : lines_) {
        auto eq = line.find('=');
        if (eq != std::string::npos && sameName(line, eq, name))
            return line.substr(eq + 1);
    }
    return {};
}

} // namespace db
