#include "dbx_client.h"

#include <boost/asio.hpp>

#include <sys/socket.h>
#include <sys/time.h>

#include "dbx_errors.h"
#include "dbx_json.h"
#include "dbx_row.h"
#include "dbx_text.h"

namespace datasnap {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct DbxClient::Socket {
    asio::io_context ioc;
    tcp::socket socket{ioc};
};

namespace {

std::string paddedCount(std::int64_t n) {
    std::string s = std::to_string(n);
    if (s.size() < 9)
        s.append(9 - s.size(), ' ');
    return s;
}

} // namespace

std::string filtersProperty(const std::vector<TransportFilter> &filters) {
    std::string out = "{";
    for (std::size_t i = 0; i < filters.size(); ++i) {
        if (i)
            out.push_back(',');
        appendRtlJsonString(out, filterId(filters[i].kind));
        if (filters[i].kind == TransportFilter::Kind::Pc1) {
            out += ":{\"Key\":";
            appendRtlJsonString(out, filters[i].key);
            out += "}";
        } else {
            out += ":{\"CompressMoreThan\":\"" + std::to_string(filters[i].compressMoreThan) + "\"}";
        }
    }
    return out + "}";
}

DbxClient::DbxClient(DbxClientOptions options) : options_(std::move(options)) {
    reader_.clientSide();
}

DbxClient::~DbxClient() {
    if (socket_) {
        boost::system::error_code ec;
        socket_->socket.close(ec);
    }
}

void DbxClient::writeWire(const std::string &bytes) {
    if (options_.onWire)
        options_.onWire(true, bytes);
    asio::write(socket_->socket, asio::buffer(bytes));
}

std::string DbxClient::readWire() {
    char buf[65536];
    boost::system::error_code ec;
    std::size_t n = socket_->socket.read_some(asio::buffer(buf), ec);
    if (ec == asio::error::eof)
        throw std::runtime_error("the server closed the connection");
    if (ec == asio::error::would_block || ec == asio::error::try_again || ec == asio::error::timed_out)
        throw std::runtime_error("no answer from the server");
    if (ec)
        throw std::runtime_error("read failed: " + ec.message());
    std::string bytes(buf, n);
    if (options_.onWire)
        options_.onWire(false, bytes);
    return bytes;
}

void DbxClient::open() {
    socket_ = std::make_unique<Socket>();
    tcp::resolver resolver(socket_->ioc);
    auto endpoints = resolver.resolve(options_.host, std::to_string(options_.port));
    asio::connect(socket_->socket, endpoints);
    socket_->socket.set_option(tcp::no_delay(true));
    timeval tv{};
    tv.tv_sec = options_.timeout.count() / 1000;
    tv.tv_usec = (options_.timeout.count() % 1000) * 1000;
    setsockopt(socket_->socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(socket_->socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    channel_ = std::make_unique<FilterChannel>(FilterChannel::Role::Client, options_.filters);
    writeWire(channel_->open());
    std::string early;
    while (!channel_->established()) {
        std::string reply;
        channel_->receive(readWire(), early, reply);
        if (!reply.empty())
            writeWire(reply);
    }
    reader_.append(early);

    std::string msg = "{\"method\":\"connect\",\"params\":[{";
    std::vector<std::pair<std::string, std::string>> props = {
        {"DriverName", "DataSnap"},
        {"HostName", options_.host},
        {"Port", std::to_string(options_.port)},
        {"CommunicationProtocol", "tcp/ip"},
        {"DatasnapContext", "datasnap/"},
        {"BufferKBSize", std::to_string(options_.bufferSize / 1024)},
        {"Filters", filtersProperty(options_.filters)},
        {"DSAuthenticationUser", options_.user},
        {"DSAuthenticationPassword", options_.password},
    };
    for (std::size_t i = 0; i < props.size(); ++i) {
        if (i)
            msg.push_back(',');
        appendDbxString(msg, props[i].first);
        msg.push_back(':');
        appendDbxString(msg, props[i].second);
    }
    msg += "}]}";
    send(msg);
    DbxNode reply = receive();
    const DbxNode *result = reply.find("result");
    if (!result || !result->is(DbxNode::Kind::Array) || result->items.empty())
        throw std::runtime_error("unexpected answer to connect");
    connectionHandle_ = result->items[0].integer();
}

void DbxClient::close() {
    if (!socket_)
        return;
    try {
        send("{\"method\":\"disconnect\",\"params\":[" + std::to_string(connectionHandle_) + "]}");
    } catch (const std::exception &) {
    }
    boost::system::error_code ec;
    socket_->socket.shutdown(tcp::socket::shutdown_both, ec);
    socket_->socket.close(ec);
    socket_.reset();
}

void DbxClient::send(std::string_view message) {
    if (!socket_ || !channel_)
        throw std::runtime_error("not connected");
    writeWire(channel_->encode(message));
}

void DbxClient::throwIfError(const DbxNode &msg) {
    const DbxNode *err = msg.find("error");
    if (!err)
        return;
    std::string name, message;
    int code = 0;
    if (const DbxNode *n = err->find("name"))
        name = n->text;
    if (const DbxNode *c = err->find("code"); c && c->is(DbxNode::Kind::Number))
        code = static_cast<int>(c->integer());
    if (const DbxNode *m = err->find("message"))
        message = m->text;
    throw DbxRemoteError(name, code, message);
}

DbxNode DbxClient::receive() {
    for (;;) {
        if (std::optional<DbxNode> msg = reader_.next()) {
            throwIfError(*msg);
            return std::move(*msg);
        }
        std::string stream, reply;
        channel_->receive(readWire(), stream, reply);
        reader_.append(stream);
    }
}

DbxClient::Command DbxClient::prepare(const std::string &methodText) {
    std::string msg = "{\"method\":\"prepare\",\"params\":[-1,false,\"DataSnap.ServerMethod\",";
    appendDbxString(msg, methodText);
    msg += "]}";
    send(msg);
    DbxNode reply = receive();
    const DbxNode *result = reply.find("result");
    if (!result || !result->is(DbxNode::Kind::Array))
        throw std::runtime_error("unexpected answer to prepare");
    Command cmd;
    for (const auto &part : result->items) {
        if (const DbxNode *h = part.find("handle"); h && !h->items.empty())
            cmd.handle = h->items[0].integer();
        if (const DbxNode *ps = part.find("parameters")) {
            for (std::size_t i = 1; i < ps->items.size(); ++i) {
                const DbxNode &p = ps->items[i];
                if (p.items.size() < 6)
                    throw std::runtime_error("malformed parameter description");
                cmd.params.push_back(
                    {static_cast<int>(p.items[0].integer()), static_cast<int>(p.items[2].integer()), p.items[5].text});
            }
        }
    }
    return cmd;
}

std::vector<json::Value> DbxClient::execute(const Command &cmd, const std::vector<json::Value> &inputs) {
    // Strings that do not fit the writer's buffer go truncated; the server pulls the rest.
    const std::size_t inlineMax = std::min<std::size_t>(
        options_.bufferSize > 4096 ? options_.bufferSize - 2048 - 64 : options_.bufferSize / 2, 65535);
    const std::size_t chunk = std::max<std::size_t>(options_.bufferSize / 8, 512);
    std::string row;
    std::vector<std::string> rests; // per field: the bytes still to send
    std::size_t in = 0;
    for (const auto &p : cmd.params) {
        std::string rest;
        if (p.direction == 1 || p.direction == 3) {
            const json::Value &v = in < inputs.size() ? inputs[in] : json::Value();
            ++in;
            if (v.isNull()) {
                appendNullField(row);
            } else if (p.type == 37) {
                appendJsonField(row, rtlJsonText(v));
            } else {
                std::string encoded = encodeRowString(v.isString() ? v.text : rtlJsonText(v));
                std::size_t room = row.size() < inlineMax ? inlineMax - row.size() : 0;
                std::size_t kept = appendStringField(row, encoded, room);
                rest = encoded.substr(kept);
            }
        } else {
            appendNullField(row);
        }
        rests.push_back(std::move(rest));
    }
    send("{\"method\":\"execute\",\"params\":[{\"handle\":[" + std::to_string(cmd.handle) + "]},{\"data\":[" +
         std::to_string(row.size()) + "," + row + "]}]}");

    DbxNode reply;
    for (;;) {
        reply = receive();
        const DbxNode *more = reply.find("more_blob");
        if (!more)
            break;
        std::size_t ordinal = more->items.size() > 3 ? static_cast<std::size_t>(more->items[3].integer()) : 0;
        if (ordinal >= rests.size())
            throw std::runtime_error("the server asked for a parameter that does not exist");
        std::string &rest = rests[ordinal];
        std::size_t n = std::min(chunk, rest.size());
        bool last = n == rest.size();
        std::int64_t count = last ? -static_cast<std::int64_t>(n) : static_cast<std::int64_t>(n);
        send("{\"data\":[" + paddedCount(count) + "," + rest.substr(0, n) + "]}");
        rest.erase(0, n);
    }
    const DbxNode *result = reply.find("result");
    if (!result)
        throw std::runtime_error("unexpected answer to execute");
    const DbxNode *data = nullptr;
    for (const auto &part : result->items)
        if (part.is(DbxNode::Kind::Data))
            data = &part;
    std::vector<json::Value> outputs;
    if (!data)
        return outputs;
    std::vector<DbxRowField> fields = parseRow(data->text);
    for (std::size_t i = 0; i < cmd.params.size() && i < fields.size(); ++i) {
        if (cmd.params[i].direction == 1)
            continue;
        DbxRowField &f = fields[i];
        // Pull the rest of a truncated result.
        while (f.truncated) {
            send("{\"method\":\"more_blob\",\"params\":[" + std::to_string(cmd.handle) + ",1,0," + std::to_string(i) +
                 ",true,0]}");
            DbxNode chunkReply = receive();
            const DbxNode *r = chunkReply.find("result");
            if (!r || r->items.empty() || !r->items[0].is(DbxNode::Kind::Data))
                throw std::runtime_error("unexpected answer to more_blob");
            f.bytes += r->items[0].text;
            if (r->items[0].count <= 0)
                f.truncated = false;
        }
        if (f.kind == DbxRowField::Kind::Null)
            outputs.push_back(json::Value::null());
        else if (f.kind == DbxRowField::Kind::Json)
            outputs.push_back(parseJsonField(f.bytes));
        else
            outputs.push_back(json::Value::string(decodeRowString(f.bytes)));
    }
    return outputs;
}

void DbxClient::commandClose(std::int64_t handle) {
    send("{\"method\":\"command_close\",\"params\":[" + std::to_string(handle) + "]}");
    for (auto it = prepared_.begin(); it != prepared_.end();)
        it = it->second.handle == handle ? prepared_.erase(it) : std::next(it);
}

std::string DbxClient::vendorProperty(const std::string &name) {
    std::string msg = "{\"method\":\"vendor_property\",\"params\":[";
    appendDbxString(msg, name);
    msg += "]}";
    send(msg);
    DbxNode reply = receive();
    const DbxNode *result = reply.find("result");
    if (!result || result->items.empty())
        throw std::runtime_error("unexpected answer to vendor_property");
    return result->items[0].text;
}

json::Value DbxClient::call(const std::string &methodText, const std::vector<json::Value> &inputs) {
    auto it = prepared_.find(methodText);
    if (it == prepared_.end())
        it = prepared_.emplace(methodText, prepare(methodText)).first;
    std::vector<json::Value> out = execute(it->second, inputs);
    return out.empty() ? json::Value::null() : out.back();
}

} // namespace datasnap
