#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dbx_reader.h"
#include "json_value.h"
#include "tcp_filter_channel.h"

namespace datasnap {

// An error reply of the server: `{"error":{"name":..,"code":..,"message":..}`.
struct DbxRemoteError : std::runtime_error {
    DbxRemoteError(std::string name, int code, const std::string &message)
        : std::runtime_error(message), name(std::move(name)), code(code) {}
    std::string name;
    int code;
};

struct DbxClientOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 211;
    std::string user;
    std::string password;
    // This client's filters in its order. Empty: adopt the server's, reversed,
    // as a client without a Filters property does.
    std::vector<TransportFilter> filters;
    // The writer's buffer (BufferKBSize * 1024): long strings beyond what fits
    // travel truncated and are pulled by the server in chunks of about this.
    std::size_t bufferSize = 32768;
    std::chrono::milliseconds timeout{30000};
    // Sees every byte sent (`out` true) and received, as it crosses the socket.
    std::function<void(bool out, std::string_view bytes)> onWire;
};

// The client side of a DataSnap TCP connection, blocking: the filter
// handshake, connect, prepare/execute of server methods (with the more_blob
// exchanges both ways), command_close and disconnect.
class DbxClient {
public:
    struct Param {
        int type = 0;
        int direction = 0;
        std::string name;
    };
    struct Command {
        std::int64_t handle = -1;
        std::vector<Param> params;
    };

    explicit DbxClient(DbxClientOptions options);
    ~DbxClient();
    DbxClient(const DbxClient &) = delete;
    DbxClient &operator=(const DbxClient &) = delete;

    // Opens the socket, runs the filter handshake and the connect message.
    // Raises DbxRemoteError when the server refuses, std::runtime_error on
    // network or protocol failures.
    void open();
    void close(); // sends disconnect and closes the socket

    Command prepare(const std::string &methodText);
    // Runs a prepared command with one value per input parameter (String for
    // text, any JSON for JSON parameters, null for null) and gives the
    // out and return values in order.
    std::vector<json::Value> execute(const Command &cmd, const std::vector<json::Value> &inputs);
    void commandClose(std::int64_t handle);
    std::string vendorProperty(const std::string &name);

    // Like a generated proxy: prepares on the first call of a method, then
    // reuses the handle. Returns the return value.
    json::Value call(const std::string &methodText, const std::vector<json::Value> &inputs);

    // Lower level, for tests: one write of the message stream, and the next
    // message read (an error reply raises DbxRemoteError).
    void send(std::string_view message);
    DbxNode receive();
    const FilterChannel &channel() const { return *channel_; }

private:
    struct Socket;
    void writeWire(const std::string &bytes);
    std::string readWire();
    static void throwIfError(const DbxNode &msg);

    DbxClientOptions options_;
    std::unique_ptr<Socket> socket_;
    std::unique_ptr<FilterChannel> channel_;
    DbxStreamReader reader_;
    std::map<std::string, Command> prepared_;
    std::int64_t connectionHandle_ = 0;
};

// The filter description a TSQLConnection carries in its Filters property.
std::string filtersProperty(const std::vector<TransportFilter> &filters);

} // namespace datasnap
