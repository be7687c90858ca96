#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// The database alias configuration: a text file (UTF-8) with one section per
// alias and the alias's parameters as NAME=value lines, for example
//
//     [LOJA]
//     SERVER NAME=srv:/dados/loja.fdb
//     USER NAME=SYSDBA
//
// The file is CORVANE_DB_ALIASES when that environment variable is set and not
// empty, otherwise "aliases.ini" in the executable's folder. Alias names are
// matched without regard to ASCII letter case, as the engine matches them;
// parameter lines keep their case and their order in the file. Blank lines and
// lines starting with ';' or '#' are comments; spaces around a line, its name
// and its value are dropped, and a line without '=' is ignored. When an alias
// has several sections, the first one counts.

// A lookup that found nothing: no configuration file, or no such alias.
class AliasError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Path of the alias configuration file (see above).
std::string AliasFilePath();

// The parameter lines ("NAME=value") of `alias` in the file at `path`, in file
// order. Throws AliasError when the file cannot be read or lacks the alias.
std::vector<std::string> GetAliasParams(const std::string &path, const std::string &alias);

// The same, in the configuration file at AliasFilePath().
std::vector<std::string> GetAliasParams(const std::string &alias);
