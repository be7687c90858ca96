#include "uScramble.h"

#include <random>
#include <stdexcept>

std::string scramble(const std::string &value, int key) {
    if (key < 0 || key > 9)
        throw std::invalid_argument("scramble key must be a single digit");
    std::string line;
    line.reserve(value.size() + 1);
    line.push_back(static_cast<char>('0' + key));
    const unsigned shift = 3u * static_cast<unsigned>(key);
    for (unsigned char b : value)
        line.push_back(static_cast<char>(static_cast<unsigned char>(b + shift)));
    return line;
}

std::string scramble(const std::string &value) {
    // One generator per thread, seeded once from the system's entropy source:
    // reseeding from the clock on every call would repeat keys within a tick.
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> keys(2, 9);
    return scramble(value, keys(generator));
}

std::string unscramble(const std::string &line) {
    if (line.empty())
        return {};
    const unsigned char first = static_cast<unsigned char>(line[0]);
    const unsigned key = (first >= '0' && first <= '9') ? first - '0' : 0u;
    const unsigned shift = 3u * key;
    std::string value;
    value.reserve(line.size() - 1);
    for (size_t i = 1; i < line.size(); ++i)
        value.push_back(static_cast<char>(static_cast<unsigned char>(static_cast<unsigned char>(line[i]) - shift)));
    return value;
}

std::string Trim(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.substr(begin, end - begin);
}

std::string DigitsOnly(const std::string &text) {
    std::string digits;
    for (char c : Trim(text))
        if (c >= '0' && c <= '9')
            digits.push_back(c);
    return digits;
}
