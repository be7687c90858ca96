#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// A payload that cannot be decoded; the message is the one the caller answers with.
class EPayloadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes a print payload: URL decoding, then Base64 decoding, each result
// read as UTF-8. The payload is UTF-8 text and ends at its first NUL character.
// Throws EPayloadError with the message callers see.
std::string DecodePayload(std::string_view payload);
