#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbx_client.h"

namespace datasnap {

// The client's side of the print methods, as existing shop programs call
// them: the text as UTF-8, Base64, then URL-encoded.
std::string base64Encode(std::string_view bytes);
// Percent-encodes everything but A-Z a-z 0-9 - _ . ! ~ * ' ( ) (as a
// browser's encodeURIComponent does).
std::string uriComponent(std::string_view bytes);
std::string encodePrintPayload(std::string_view utf8Text);

struct HttpReply {
    int status = 0;
    std::string body;
};

// One plain HTTP/1.1 request on a fresh connection.
HttpReply httpCall(const std::string &host, std::uint16_t port, const std::string &verb, const std::string &target,
                   const std::string &body = {}, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A REST call of print_texto (GET) or updateprint_json (POST of {"texto":value});
// gives the method's result text. Raises std::runtime_error with the server's
// error text when the call fails.
std::string restPrint(const std::string &host, std::uint16_t port, const std::string &user,
                      const std::string &password, const std::string &value, bool asJson);

// The same over an open TCP connection (prepared once per method and connection).
std::string tcpPrint(DbxClient &client, const std::string &user, const std::string &password,
                     const std::string &value, bool asJson);

} // namespace datasnap
