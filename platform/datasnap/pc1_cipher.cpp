#include "pc1_cipher.h"


#include <random>
#include <stdexcept>

#include "dbx_text.h"
#include "hex_digit.h"

namespace datasnap {

Pc1Cipher::Pc1Cipher(std::string_view key) {
    if (key.empty())
        throw std::invalid_argument("PC1 key is empty");
    cle_.fill(0x20);
    std::size_t n = 0;
    forEachUtf16(key, [&](std::uint16_t u) {
        if (n < 16)
            cle_[n++] = static_cast<std::uint8_t>(u & 0xFF);
    });
}

std::uint16_t Pc1Cipher::code(int i) {
    std::uint16_t dx = static_cast<std::uint16_t>(x1a2_ + i);
    std::uint16_t ax = x1a0_[i];
    std::uint16_t cx = 0x015A;
    const std::uint16_t bx = 0x4E35;
    std::swap(ax, si_);
    std::swap(ax, dx);
    ax = static_cast<std::uint16_t>(ax * bx);
    std::swap(ax, cx);
    ax = static_cast<std::uint16_t>(ax * si_);
    cx = static_cast<std::uint16_t>(ax + cx);
    std::swap(ax, si_);
    ax = static_cast<std::uint16_t>(ax * bx);
    dx = static_cast<std::uint16_t>(cx + dx);
    ax = static_cast<std::uint16_t>(ax + 1);
    x1a2_ = dx;
    x1a0_[i] = ax;
    return static_cast<std::uint16_t>(ax ^ dx);
}

std::uint16_t Pc1Cipher::keystream() {
    std::uint16_t inter = 0;
    for (int i = 0; i < 8; ++i) {
        std::uint16_t word = static_cast<std::uint16_t>((cle_[2 * i] << 8) | cle_[2 * i + 1]);
        x1a0_[i] = static_cast<std::uint16_t>((i == 0 ? 0 : x1a0_[i - 1]) ^ word);
        std::uint16_t c = code(i);
        inter = i == 0 ? c : static_cast<std::uint16_t>(inter ^ c);
    }
    return inter;
}

std::uint8_t Pc1Cipher::encrypt(std::uint8_t plain) {
    std::uint16_t inter = keystream();
    std::uint8_t k = static_cast<std::uint8_t>((inter >> 8) ^ inter);
    for (auto &c : cle_)
        c ^= plain;
    return plain ^ k;
}

std::uint8_t Pc1Cipher::decrypt(std::uint8_t cipher) {
    std::uint16_t inter = keystream();
    std::uint8_t k = static_cast<std::uint8_t>((inter >> 8) ^ inter);
    std::uint8_t plain = cipher ^ k;
    for (auto &c : cle_)
        c ^= plain;
    return plain;
}

void Pc1Cipher::encrypt(std::string &bytes) {
    for (auto &ch : bytes)
        ch = static_cast<char>(encrypt(static_cast<std::uint8_t>(ch)));
}

void Pc1Cipher::decrypt(std::string &bytes) {
    for (auto &ch : bytes)
        ch = static_cast<char>(decrypt(static_cast<std::uint8_t>(ch)));
}

std::string pc1Encrypt(std::string_view key, std::string_view plain) {
    std::string out(plain);
    Pc1Cipher(key).encrypt(out);
    return out;
}

std::string pc1Decrypt(std::string_view key, std::string_view cipher) {
    std::string out(cipher);
    Pc1Cipher(key).decrypt(out);
    return out;
}

std::string pc1Code(std::string_view key) {
    static constexpr char digits[] = "0123456789ABCDEF";
    Pc1Cipher cipher(key);
    std::string hex;
    hex.reserve(512);
    for (int b = 0; b < 256; ++b) {
        std::uint8_t c = cipher.encrypt(static_cast<std::uint8_t>(b));
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 0xF]);
    }
    return hex;
}

bool pc1CodeMatches(std::string_view key, std::string_view hex) {
    if (hex.size() != 512 || key.empty())
        return false;
    Pc1Cipher cipher(key);
    for (int b = 0; b < 256; ++b) {
        int hi = hexDigitValue(static_cast<unsigned char>(hex[2 * b]));
        int lo = hexDigitValue(static_cast<unsigned char>(hex[2 * b + 1]));
        if (hi < 0 || lo < 0)
            return false;
        if (cipher.decrypt(static_cast<std::uint8_t>(hi << 4 | lo)) != b)
            return false;
    }
    return true;
}

std::string pc1RandomKey() {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!";
    std::random_device rd;
    std::uniform_int_distribution<int> pick(0, sizeof(alphabet) - 2);
    std::string key;
    for (int i = 0; i < 16; ++i)
        key.push_back(alphabet[pick(rd)]);
    return key;
}

} // namespace datasnap
