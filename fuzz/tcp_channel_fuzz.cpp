// Feeds client bytes through the server's side of a TCP connection: the
// filter channel and the DBX message layer, as a connection would.
//
// First byte 'W': the rest is the raw wire (query, description, frames).
// Otherwise: the rest is the decoded message stream after a real handshake,
// cut into frames at every 0xF7 byte so that messages span and share frames.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbx_errors.h"
#include "dbx_server_connection.h"
#include "ds_server.h"
#include "tcp_filter_channel.h"

namespace {

using namespace datasnap;

struct World {
    ClassInfo cls;
    Server server;
    ServerClass entry{server};
    AuthenticationManager auth;
    World() {
        cls.name = "TServerMethods1";
        auto str = [](const char *n) { return ParamInfo{n, DataType::WideString, Direction::In}; };
        ParamInfo ret{"ReturnParameter", DataType::WideString, Direction::Return};
        auto echo = [](void *, std::vector<json::Value> &in) {
            std::string s;
            for (auto &v : in)
                s += v.isString() ? v.text : "#";
            return std::vector<json::Value>{json::Value::string(s)};
        };
        cls.methods.push_back({"print_texto", {str("Usuario"), str("senha"), str("Value"), ret}, echo});
        cls.methods.push_back(
            {"updateprint_json",
             {str("Usuario"), str("senha"), ParamInfo{"Value", DataType::JsonValue, Direction::In}, ret},
             echo});
        entry.OnGetClass = [this](ServerClass &, const ClassInfo *&c) { c = &cls; };
        auth.OnUserAuthenticate = [](AuthenticationManager &, const std::string &, const std::string &,
                                     const std::string &u, const std::string &p, bool &valid,
                                     std::vector<std::string> &) { valid = u == "USER" && p == "PASS"; };
    }
};

const char *kKey = "mKpRuTqWbNcZxJvL";

std::vector<TransportFilter> serverFilters() { return {TransportFilter::pc1(kKey), TransportFilter::zlib(1024)}; }

ChannelLimits limits() {
    ChannelLimits l;
    l.maxFrame = 1 << 20;
    l.maxInflated = 1 << 20;
    l.maxHandshake = 4096;
    return l;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static World world;
    if (size == 0)
        return 0;
    std::string input(reinterpret_cast<const char *>(data + 1), size - 1);
    FilterChannel server(FilterChannel::Role::Server, serverFilters(), limits());
    auto session = std::make_shared<Session>("1.1.1", "tcp");
    DbxServerConnection dbx(world.server, &world.auth, session, DbxLimits{1 << 20, 1 << 20, 16});
    std::vector<std::string> writes;
    try {
        if (data[0] == 'W') {
            std::string stream, reply;
            for (std::size_t i = 0; i < input.size(); i += 61) {
                server.receive(std::string_view(input).substr(i, 61), stream, reply);
                dbx.receive(stream, writes);
                stream.clear();
                if (dbx.finished())
                    break;
            }
        } else {
            FilterChannel client(FilterChannel::Role::Client, {TransportFilter::zlib(1024), TransportFilter::pc1(kKey)});
            std::string toServer = client.open(), toClient, stream, reply;
            server.receive(toServer, stream, toClient);
            client.receive(toClient, stream, toServer);
            server.receive(toServer, stream, reply);
            std::size_t start = 0;
            for (std::size_t i = 0; i <= input.size(); ++i) {
                if (i == input.size() || input[i] == '\xF7') {
                    server.receive(client.encode(std::string_view(input).substr(start, i - start)), stream, reply);
                    dbx.receive(stream, writes);
                    stream.clear();
                    start = i + 1;
                    if (dbx.finished())
                        break;
                }
            }
        }
    } catch (const ProtocolError &) {
        // the connection would be closed
    }
    session->close();
    return 0;
}
