#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace datasnap {

// The 128-bit PC1 stream cipher as DataSnap's "PC1" transport filter uses it.
// The key register is XORed with every plaintext byte, so one instance must
// process one message from its start; the filter makes a fresh instance per
// frame. Keys are taken as their first 16 characters (low byte of each code
// point), padded with spaces.
class Pc1Cipher {
public:
    explicit Pc1Cipher(std::string_view key);

    std::uint8_t encrypt(std::uint8_t plain);
    std::uint8_t decrypt(std::uint8_t cipher);
    void encrypt(std::string &bytes);
    void decrypt(std::string &bytes);

private:
    std::uint16_t keystream();
    std::uint16_t code(int i);

    std::array<std::uint8_t, 16> cle_{};
    std::array<std::uint16_t, 8> x1a0_{};
    std::uint16_t si_ = 0;
    std::uint16_t x1a2_ = 0;
};

// One frame's worth of PC1, each with a cipher made for that call.
std::string pc1Encrypt(std::string_view key, std::string_view plain);
std::string pc1Decrypt(std::string_view key, std::string_view cipher);

// The handshake's CODE: uppercase hex of the bytes 0..255 encrypted with `key`.
std::string pc1Code(std::string_view key);
// True when `hex` (either letter case) decrypts with `key` to the bytes 0..255.
bool pc1CodeMatches(std::string_view key, std::string_view hex);

// A random 16-character key from [a-zA-Z0-9!], for a filter with no Key of its own.
std::string pc1RandomKey();

} // namespace datasnap
