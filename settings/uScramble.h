#pragma once

#include <string>

// The scrambling of servidor.cfg's first four lines and the digit filter used
// with its number lines. All three work on bytes: callers convert texts to the
// 8-bit code page before scrambling and back after unscrambling.

// Returns the value scrambled with a freshly drawn key from 2 to 9: the key's
// digit, then every byte shifted up by three times the key (modulo 256).
std::string scramble(const std::string &value);

// The same with a given key (0 to 9). Keys 0 and 1 are never drawn by scramble()
// but unscramble() honours them.
std::string scramble(const std::string &value, int key);

// Reverses scramble(): the first byte is the key ("0" to "9"; any other byte
// counts as key 0) and every later byte is shifted back. Never fails.
std::string unscramble(const std::string &line);

// The digits "0" to "9" of the text, in order, after trimming the characters
// with codes 0 to 32 at both ends.
std::string DigitsOnly(const std::string &text);

// The text without leading and trailing characters with codes 0 to 32.
std::string Trim(const std::string &text);
