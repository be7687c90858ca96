#include "dbx_print_client.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <stdexcept>

#include "dbx_json.h"
#include "json_value.h"

namespace datasnap {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

std::string base64Encode(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], '='};
    }
    return out;
}

std::string uriComponent(std::string_view bytes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("-_.!~*'()").find(static_cast<char>(c)) != std::string_view::npos) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string encodePrintPayload(std::string_view utf8Text) { return uriComponent(base64Encode(utf8Text)); }

HttpReply httpCall(const std::string &host, std::uint16_t port, const std::string &verb, const std::string &target,
                   const std::string &body, std::chrono::milliseconds timeout) {
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    asio::ip::tcp::resolver resolver(ioc);
    stream.expires_after(timeout);
    stream.connect(resolver.resolve(host, std::to_string(port)));
    http::request<http::string_body> req(http::string_to_verb(verb), target, 11);
    req.set(http::field::host, host + ":" + std::to_string(port));
    req.set(http::field::accept, "application/json");
    req.set(http::field::content_type, "text/plain;charset=UTF-8");
    req.set(http::field::connection, "close");
    req.body() = body;
    req.prepare_payload();
    http::write(stream, req);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64u << 20);
    http::read(stream, buffer, parser);
    beast::error_code ec;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    return {static_cast<int>(parser.get().result_int()), parser.get().body()};
}

std::string restPrint(const std::string &host, std::uint16_t port, const std::string &user,
                      const std::string &password, const std::string &value, bool asJson) {
    HttpReply reply;
    if (asJson) {
        json::Value obj = json::Value::object({{"texto", json::Value::string(value)}});
        reply = httpCall(host, port, "POST",
                         "/datasnap/rest/TServerMethods1/print_json/" + uriComponent(user) + "/" +
                             uriComponent(password) + "/",
                         rtlJsonText(obj));
    } else {
        reply = httpCall(host, port, "GET",
                         "/datasnap/rest/TServerMethods1/print_texto/" + uriComponent(user) + "/" +
                             uriComponent(password) + "/" + uriComponent(value) + "/");
    }
    json::Value doc;
    try {
        doc = json::parse(reply.body);
    } catch (const json::ParseError &) {
        throw std::runtime_error("HTTP " + std::to_string(reply.status) + ": " + reply.body.substr(0, 200));
    }
    if (const json::Value *err = doc.find("error"))
        throw std::runtime_error(err->isString() ? err->text : "HTTP " + std::to_string(reply.status));
    const json::Value *result = doc.find("result");
    if (!result || !result->isArray() || result->items.empty() || !result->items.back().isString())
        throw std::runtime_error("unexpected answer: " + reply.body.substr(0, 200));
    return result->items.back().text;
}

std::string tcpPrint(DbxClient &client, const std::string &user, const std::string &password,
                     const std::string &value, bool asJson) {
    json::Value v = asJson ? json::Value::object({{"texto", json::Value::string(value)}}) : json::Value::string(value);
    json::Value r = client.call(asJson ? "TServerMethods1.updateprint_json" : "TServerMethods1.print_texto",
                                {json::Value::string(user), json::Value::string(password), std::move(v)});
    if (!r.isString())
        throw std::runtime_error("the server answered no text");
    return r.text;
}

} // namespace datasnap
