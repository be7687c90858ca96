#include "dbx_server_connection.h"

#include "dbx_errors.h"
#include "dbx_json.h"
#include "dbx_text.h"
#include "io_error.h"

namespace datasnap {

namespace {

constexpr char kAuthenticationFailed[] = "Authentication manager rejected user credentials. This may due to invalid "
                                         "combination of DS user name and password";

// A failure answered with the error reply; the connection goes on.
struct RemoteError {
    std::string name;
    int code;
    std::string message;
};

const DbxNode *item(const DbxNode &array, std::size_t i) {
    return array.is(DbxNode::Kind::Array) && i < array.items.size() ? &array.items[i] : nullptr;
}

std::int64_t integerAt(const DbxNode &params, std::size_t i) {
    const DbxNode *n = item(params, i);
    if (!n || !n->is(DbxNode::Kind::Number))
        throw RemoteError{"TDBXError", 5, "Malformed request"};
    try {
        return n->integer();
    } catch (const ProtocolError &) {
        throw RemoteError{"TDBXError", 5, "Malformed request"};
    }
}

std::string stringAt(const DbxNode &params, std::size_t i) {
    const DbxNode *n = item(params, i);
    if (!n || !n->is(DbxNode::Kind::String))
        throw RemoteError{"TDBXError", 5, "Malformed request"};
    return n->text;
}

// The platform's class name of an exception that leaves a method.
std::string exceptionClassName(const std::exception &e) {
    if (dynamic_cast<const os::IoError *>(&e))
        return "EInOutError";
    return "Exception";
}

std::string dataBlock(std::string_view bytes) {
    return "{\"data\":[" + std::to_string(bytes.size()) + "," + std::string(bytes) + "]}";
}

// A blob chunk's count: left-aligned in nine characters, as the stock writer pads it.
std::string paddedCount(std::int64_t n) {
    std::string s = std::to_string(n);
    if (s.size() < 9)
        s.append(9 - s.size(), ' ');
    return s;
}

} // namespace

std::string dbxErrorReply(std::string_view className, int code, std::string_view message) {
    std::string out = "{\"error\":{\"name\":";
    appendDbxString(out, className);
    out += ",\"code\":" + std::to_string(code) + ",\"message\":";
    appendDbxString(out, "Remote error: " + std::string(message));
    out += "}";
    return out;
}

DbxServerConnection::DbxServerConnection(Server &server, AuthenticationManager *manager,
                                         std::shared_ptr<Session> session, DbxLimits limits)
    : server_(server), manager_(manager), session_(std::move(session)), limits_(limits),
      reader_(DbxReaderLimits{limits.maxMessage, 32, limits.maxStructure}) {}

void DbxServerConnection::receive(std::string_view bytes, std::vector<std::string> &writes) {
    reader_.append(bytes);
    while (!finished_) {
        std::optional<DbxNode> msg = reader_.next();
        if (!msg)
            break;
        handle(*msg, writes);
    }
}

bool DbxServerConnection::admitted(std::string_view request) {
    if (auth_ == Auth::Admitted || (auth_ == Auth::None && manager_ == nullptr))
        return true;
    // A refused client that keeps going is dropped without a word, like a
    // refused login.
    (void)request;
    finished_ = true;
    finishReason_.clear();
    return false;
}

void DbxServerConnection::handle(const DbxNode &msg, std::vector<std::string> &writes) {
    if (!msg.is(DbxNode::Kind::Object) && !msg.is(DbxNode::Kind::Data))
        throw ProtocolError("message is not an object");
    if (pending_) {
        if (!msg.is(DbxNode::Kind::Data))
            throw ProtocolError("blob chunk expected");
        onBlobChunk(msg, writes);
        return;
    }
    if (msg.is(DbxNode::Kind::Data) || msg.find("metadata"))
        return;  // an unprepared execute's trailing metadata, or a stray data block: nothing to answer
    const DbxNode *method = msg.find("method");
    if (!method || !method->is(DbxNode::Kind::String))
        throw ProtocolError("request without a method");
    static const DbxNode empty = [] {
        DbxNode n;
        n.kind = DbxNode::Kind::Array;
        return n;
    }();
    const DbxNode *params = msg.find("params");
    if (!params || !params->is(DbxNode::Kind::Array))
        params = &empty;
    const std::string &name = method->text;
    try {
        if (name == "connect") {
            onConnect(*params, writes);
        } else if (name == "disconnect") {
            finished_ = true;
            finishReason_ = "disconnect";
        } else if (name == "prepare") {
            if (admitted(name))
                onPrepare(*params, writes);
        } else if (name == "execute") {
            if (admitted(name))
                onExecute(*params, writes);
        } else if (name == "more_blob") {
            if (admitted(name))
                onMoreBlob(*params, writes);
        } else if (name == "command_close") {
            commands_.erase(integerAt(*params, 0));
        } else if (name == "reader_close") {
        } else if (name == "vendor_property") {
            writes.push_back("{\"result\":[\"\"]}");
        } else if (name == "txbegin" || name == "txend" || name == "next_result" || name == "next") {
            throw RemoteError{"TDBXError", 5, "Operation not supported: " + name};
        } else {
            throw RemoteError{"TDBXError", 5, "Unknown request: " + name.substr(0, 64)};
        }
    } catch (const RemoteError &e) {
        writes.push_back(dbxErrorReply(e.name, e.code, e.message));
    }
}

void DbxServerConnection::onConnect(const DbxNode &params, std::vector<std::string> &writes) {
    std::string user, password;
    if (const DbxNode *props = item(params, 0); props && props->is(DbxNode::Kind::Object)) {
        for (const auto &[name, value] : props->members) {
            if (!value.is(DbxNode::Kind::String))
                continue;
            if (name == "DSAuthenticationUser")
                user = value.text;
            else if (name == "DSAuthenticationPassword")
                password = value.text;
        }
    }
    if (manager_) {
        std::vector<std::string> roles;
        bool valid = false;
        try {
            valid = manager_->authenticate("tcp/ip", "", user, password, roles);
        } catch (const std::exception &) {
            valid = false;
        }
        if (!valid) {
            auth_ = Auth::Refused;
            throw RemoteError{"TDBXError", 0, kAuthenticationFailed};
        }
        session_->authManager = manager_;
        session_->userName = user;
        session_->userRoles = std::move(roles);
    }
    auth_ = Auth::Admitted;
    writes.push_back("{\"result\":[0,\"DataSnap\",2]}");
}

void DbxServerConnection::onPrepare(const DbxNode &params, std::vector<std::string> &writes) {
    std::int64_t requested = integerAt(params, 0);
    std::string text = stringAt(params, 3);
    std::int64_t handle = requested >= 0 && commands_.count(requested) ? requested : nextHandle_++;
    if (!commands_.count(handle) && commands_.size() >= limits_.maxCommands)
        throw ProtocolError("more than " + std::to_string(limits_.maxCommands) + " prepared commands");

    Server::Found found = server_.findMethod(text);
    if (!found)
        throw RemoteError{"TDBXError", 105, text + " method not found in the server method list"};
    Command &cmd = commands_[handle];
    cmd.target = found;
    cmd.text = text;
    cmd.pendingBlobs.clear();

    const auto &ps = found.method->params;
    std::string out = "{\"result\":[{\"handle\":[" + std::to_string(handle) + "]},{\"fields\":[0,false]}," +
                      "{\"parameters\":[" + std::to_string(ps.size());
    for (const auto &p : ps) {
        out += ",[" + std::to_string(static_cast<int>(p.type)) + ",0," + std::to_string(static_cast<int>(p.direction)) +
               ",0,0,";
        appendDbxString(out, p.name);
        out += ",0,0,0]";
    }
    out += "]}]}";
    writes.push_back(std::move(out));
}

void DbxServerConnection::onExecute(const DbxNode &params, std::vector<std::string> &writes) {
    const DbxNode *first = item(params, 0);
    std::int64_t handle = -1;
    if (first && first->is(DbxNode::Kind::Object)) {
        if (const DbxNode *h = first->find("handle"))
            handle = integerAt(*h, 0);
        else if (const DbxNode *f = first->find("fields")) {
            // An unprepared execute names its command; prepare it on the fly.
            std::int64_t requested = integerAt(*f, 0);
            std::string text = stringAt(*f, 3);
            handle = requested >= 0 && commands_.count(requested) ? requested : nextHandle_++;
            Server::Found found = server_.findMethod(text);
            if (!found)
                throw RemoteError{"TDBXError", 105, text + " method not found in the server method list"};
            if (!commands_.count(handle) && commands_.size() >= limits_.maxCommands)
                throw ProtocolError("more than " + std::to_string(limits_.maxCommands) + " prepared commands");
            commands_[handle] = Command{found, text, {}};
        } else {
            throw RemoteError{"TDBXError", 5, "Malformed request"};
        }
    } else {
        throw RemoteError{"TDBXError", 5, "Malformed request"};
    }
    auto it = commands_.find(handle);
    if (it == commands_.end())
        throw RemoteError{"TDBXError", 29, "Invalid command handle:  " + std::to_string(handle)};
    it->second.pendingBlobs.clear();

    PendingExecute exec{handle, {}, 0, 0};
    for (std::size_t i = 1; i < params.items.size(); ++i) {
        if (params.items[i].is(DbxNode::Kind::Data)) {
            try {
                exec.fields = parseRow(params.items[i].text);
            } catch (const ProtocolError &e) {
                throw RemoteError{"TDBXError", 5, e.what()};
            }
            break;
        }
    }
    pending_ = std::move(exec);
    if (requestNextBlob(writes))
        return;
    PendingExecute ready = std::move(*pending_);
    pending_.reset();
    run(ready, writes);
}

// Asks the client for the next chunk of the first truncated input field, if
// any is left; false when every field is complete.
bool DbxServerConnection::requestNextBlob(std::vector<std::string> &writes) {
    PendingExecute &p = *pending_;
    while (p.field < p.fields.size() && !p.fields[p.field].truncated)
        ++p.field;
    if (p.field == p.fields.size())
        return false;
    writes.push_back("{\"more_blob\":[-1," + std::to_string(p.blobId + 1) + ",0," + std::to_string(p.field) + ",0]}");
    return true;
}

void DbxServerConnection::onBlobChunk(const DbxNode &data, std::vector<std::string> &writes) {
    PendingExecute &p = *pending_;
    DbxRowField &f = p.fields[p.field];
    if (f.bytes.size() + data.text.size() > limits_.maxBlob)
        throw ProtocolError("string parameter longer than " + std::to_string(limits_.maxBlob) + " bytes");
    f.bytes += data.text;
    if (data.count <= 0) {
        f.truncated = false;
        ++p.blobId;
    }
    if (requestNextBlob(writes))
        return;
    PendingExecute ready = std::move(*pending_);
    pending_.reset();
    try {
        run(ready, writes);
    } catch (const RemoteError &e) {
        writes.push_back(dbxErrorReply(e.name, e.code, e.message));
    }
}

void DbxServerConnection::run(PendingExecute &exec, std::vector<std::string> &writes) {
    Command &cmd = commands_.at(exec.handle);
    const MethodInfo &m = *cmd.target.method;

    std::vector<json::Value> inputs;
    for (std::size_t i = 0; i < m.params.size(); ++i) {
        const ParamInfo &p = m.params[i];
        if (p.direction != Direction::In && p.direction != Direction::InOut)
            continue;
        if (i >= exec.fields.size() || exec.fields[i].kind == DbxRowField::Kind::Null) {
            inputs.push_back(json::Value::null());
            continue;
        }
        const DbxRowField &f = exec.fields[i];
        try {
            if (f.kind == DbxRowField::Kind::String)
                inputs.push_back(json::Value::string(decodeRowString(f.bytes)));
            else
                inputs.push_back(parseJsonField(f.bytes));
        } catch (const std::exception &e) {
            throw RemoteError{"TDBXError", 5, "Parameter " + p.name + ": " + e.what()};
        }
    }

    std::vector<json::Value> outputs;
    try {
        outputs = server_.invoke(*session_, cmd.target, std::move(inputs));
    } catch (const MethodNotFound &e) {
        throw RemoteError{"TDBXError", 105, e.what()};
    } catch (const NotAuthorized &e) {
        throw RemoteError{"TDBXError", 5, e.what()};
    } catch (const ArgumentError &e) {
        throw RemoteError{"TDBXError", 5, e.what()};
    } catch (const std::exception &e) {
        throw RemoteError{exceptionClassName(e), 5, e.what()};
    }

    std::string row;
    std::size_t out = 0;
    for (std::size_t i = 0; i < m.params.size(); ++i) {
        const ParamInfo &p = m.params[i];
        if (p.direction == Direction::In || out >= outputs.size()) {
            appendNullField(row);
            continue;
        }
        const json::Value &v = outputs[out++];
        if (v.isNull()) {
            appendNullField(row);
        } else if (p.type == DataType::JsonValue) {
            appendJsonField(row, rtlJsonText(v));
        } else if (p.type == DataType::WideString && v.isString()) {
            std::string encoded = encodeRowString(v.text);
            std::size_t kept = appendStringField(row, encoded, kInlineResult);
            if (kept < encoded.size())
                cmd.pendingBlobs[static_cast<int>(i)] = encoded.substr(kept);
        } else {
            throw RemoteError{"TDBXError", 5, "Unsupported result type of " + m.name};
        }
    }
    writes.push_back("{\"result\":[{\"rows\":[0]}," + dataBlock(row) + "]}");
}

void DbxServerConnection::onMoreBlob(const DbxNode &params, std::vector<std::string> &writes) {
    std::int64_t handle = integerAt(params, 0);
    std::int64_t ordinal = integerAt(params, 3);
    auto it = commands_.find(handle);
    if (it == commands_.end())
        throw RemoteError{"TDBXError", 29, "Invalid command handle:  " + std::to_string(handle)};
    auto blob = it->second.pendingBlobs.find(static_cast<int>(ordinal));
    if (blob == it->second.pendingBlobs.end())
        throw RemoteError{"TDBXError", 5, "No more data for parameter " + std::to_string(ordinal)};
    std::string rest = std::move(blob->second);
    it->second.pendingBlobs.erase(blob);
    // The whole rest as one last chunk, the closing brackets in a write of their own.
    writes.push_back("{\"result\":[{\"data\":[" + paddedCount(-static_cast<std::int64_t>(rest.size())) + "," + rest +
                     "]}");
    writes.push_back("]}");
}

} // namespace datasnap
