#pragma once

#include <array>
#include <string>

#include "runtime_errors.h"

// The settings file servidor.cfg: 13 lines of 8-bit text in the code page,
// each ended by CR LF, in the folder of the executable. A line's meaning is its
// number (see TSettings for the order); lines 1 to 4 are scrambled.

constexpr int kServidorCfgLineCount = 13;
inline constexpr const char *kServidorCfgName = "servidor.cfg";

// The 13 lines as bytes, without their line ends.
using ServidorCfgLines = std::array<std::string, kServidorCfgLineCount>;

// The folder of the running executable, with its trailing "/". A folder set with
// SetExecutableFolder takes its place (tests, and tools that write the settings
// of a program installed elsewhere); an empty text restores the real one.
std::string ExecutableFolder();
void SetExecutableFolder(const std::string &folder);

// Whether something exists at the path (a folder counts: reading it then fails).
// A path that cannot be examined raises EInOutError.
bool ServidorCfgExists(const std::string &path);

// Reads the 13 lines. A line ends at LF, a CR just before the LF belongs to the
// line end, byte 26 ends the file, lines after the 13th are ignored and missing
// ones are empty. Raises EInOutError when the file cannot be opened or read.
ServidorCfgLines ReadServidorCfg(const std::string &path);

// Replaces the file with the 13 lines, each followed by CR LF. The bytes go to a
// new file in the same folder, readable and writable by its owner only, which
// then takes the old file's place, so a failure never leaves a partial file.
// Raises EInOutError when the file cannot be written.
void WriteServidorCfg(const std::string &path, const ServidorCfgLines &lines);
