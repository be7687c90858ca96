// Raw bytes as an HTTP request through the HTTP parser (with the service's
// limits) and the REST router, against a server with a class whose methods
// take text and JSON parameters.

#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "ds_server.h"
#include "rest_dispatcher.h"
#include "rest_text.h"

namespace {

namespace http = boost::beast::http;
using V = json::Value;

struct Fixture {
    datasnap::ClassInfo cls;
    datasnap::Server server;
    datasnap::ServerClass entry{server};
    datasnap::rest::SessionStore sessions{64, std::chrono::milliseconds(1200000)};
    datasnap::rest::Dispatcher dispatcher{server, sessions, {}};

    Fixture() {
        using datasnap::DataType;
        using datasnap::Direction;
        cls.name = "TServerMethods1";
        cls.create = [] { return std::make_shared<int>(0); };
        cls.methods.push_back({"print_texto",
                               {{"Usuario", DataType::WideString, Direction::In},
                                {"senha", DataType::WideString, Direction::In},
                                {"Value", DataType::WideString, Direction::In},
                                {"ReturnParameter", DataType::WideString, Direction::Return}},
                               [](void *, std::vector<V> &in) -> std::vector<V> {
                                   return {V::string(datasnap::stringArg(in[0]) + datasnap::stringArg(in[2]))};
                               }});
        cls.methods.push_back({"updateprint_json",
                               {{"Usuario", DataType::WideString, Direction::In},
                                {"senha", DataType::WideString, Direction::In},
                                {"Value", DataType::JsonValue, Direction::In},
                                {"ReturnParameter", DataType::JsonValue, Direction::Return}},
                               [](void *, std::vector<V> &in) -> std::vector<V> { return {in[2]}; }});
        entry.OnGetClass = [this](datasnap::ServerClass &, const datasnap::ClassInfo *&c) { c = &cls; };
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static Fixture f;
    std::string_view input(reinterpret_cast<const char *>(data), size);

    http::request_parser<http::string_body> parser;
    parser.header_limit(8192);
    parser.body_limit(65536);
    parser.eager(true);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(input.data(), input.size()), ec);
    if (!ec && !parser.is_done())
        parser.put_eof(ec);
    if (!ec && parser.is_done()) {
        auto &req = parser.get();
        std::string pragma(req[http::field::pragma]);
        datasnap::rest::Request r;
        r.method = {req.method_string().data(), req.method_string().size()};
        r.target = {req.target().data(), req.target().size()};
        r.pragma = pragma;
        r.body = req.body();
        datasnap::rest::Response out = f.dispatcher.handle(r);
        for (char c : out.body) // results are pure ASCII
            if (static_cast<unsigned char>(c) > 0x7F)
                __builtin_trap();
    }

    // the text rules on their own
    std::string decoded = datasnap::rest::decodeSegment(input);
    if (datasnap::rest::sanitizeUtf8(decoded) != decoded)
        __builtin_trap();
    try {
        datasnap::rest::parseBody(input);
    } catch (const json::ParseError &) {
    }
    return 0;
}
