#include "rest_dispatcher.h"

#include "rest_text.h"

namespace datasnap::rest {

namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        std::size_t p = s.find(sep);
        parts.push_back(s.substr(0, p));
        if (p == std::string_view::npos)
            break;
        s.remove_prefix(p + 1);
    }
    return parts;
}

std::vector<std::string> contextSegments(std::string_view ctx) {
    std::vector<std::string> r;
    for (auto seg : split(ctx, '/'))
        if (!seg.empty())
            r.emplace_back(seg);
    return r;
}

// Text for an HTML page, in ASCII: markup characters and everything beyond
// ASCII as character references.
std::string htmlEscape(std::string_view s) {
    std::string out;
    const std::string text = sanitizeUtf8(s);
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        char32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < len && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
        i += len;
    }
    return out;
}

Response errorResponse(unsigned status, const std::string &message, std::string pragma = {}) {
    Response r;
    r.status = status;
    r.body = "{\"error\":";
    writeJsonString(r.body, message);
    r.body += '}';
    r.pragma = std::move(pragma);
    return r;
}

// Consumes the context segments `ctx` from the front of `path` ("/a/b/..."),
// comparing decoded segments without regard to case. Returns false when they
// do not match; otherwise `path` keeps what follows them ("" or "/...").
bool consumeContext(std::string_view &path, const std::vector<std::string> &ctx) {
    std::string_view p = path;
    for (const auto &want : ctx) {
        if (p.empty() || p.front() != '/')
            return false;
        p.remove_prefix(1);
        std::size_t end = p.find('/');
        std::string_view seg = p.substr(0, end);
        if (!equalNoCase(decodeSegment(seg), want))
            return false;
        p = end == std::string_view::npos ? std::string_view{} : p.substr(end);
    }
    path = p;
    return true;
}

// A body value for a text parameter.
json::Value bodyToText(const json::Value &v) {
    using K = json::Value::Kind;
    switch (v.kind) {
    case K::Null:
    case K::String:
        return v;
    case K::Number:
        return json::Value::string(v.text);
    case K::True:
        return json::Value::string("true");
    case K::False:
        return json::Value::string("false");
    default:
        throw ArgumentError("Cannot convert JSON value " + toJson(v) + " input into TDBXTypes.WideString");
    }
}

// A path segment (already decoded) for a parameter of `type`. The exact text
// "null" stands for null.
json::Value segmentValue(const std::string &text, DataType type) {
    if (text == "null")
        return json::Value::null();
    if (type == DataType::WideString)
        return json::Value::string(text);
    try {
        return parseBody(text);
    } catch (const json::ParseError &) {
        throw ArgumentError("Cannot convert the path parameter " + toJson(json::Value::string(text)) +
                            " into a JSON value");
    }
}

bool blank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    return true;
}

} // namespace

Dispatcher::Dispatcher(Server &server, SessionStore &sessions, Contexts contexts, AuthenticationManager *auth)
    : server_(server), sessions_(sessions), dsContext_(contextSegments(contexts.ds)),
      restContext_(contextSegments(contexts.rest)), auth_(auth) {}

std::string Dispatcher::pragmaFor(const Session &s) const {
    return "dssession=" + s.id() + ",dssessionexpires=" + std::to_string(sessions_.timeout().count());
}

Response Dispatcher::handle(const Request &req) {
    std::string_view target = req.target;
    // absolute-form: drop the scheme and authority
    if (startsWithNoCase(target, "http://") || startsWithNoCase(target, "https://")) {
        std::size_t start = target.find("//") + 2;
        std::size_t slash = target.find('/', start);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    std::size_t q = target.find('?');
    std::string_view path = target.substr(0, q);
    std::string_view query = q == std::string_view::npos ? std::string_view{} : target.substr(q + 1);
    if (std::size_t h = query.find('#'); h != std::string_view::npos)
        query = query.substr(0, h);

    std::string_view rest = path;
    if (!consumeContext(rest, dsContext_)) {
        Response r;
        r.status = 404;
        r.body = "<HTML><BODY><B>404 Expected datasnap context in request " + htmlEscape(path) + "</B></BODY></HTML>";
        return r;
    }
    std::string_view afterDs = rest;
    if (!consumeContext(rest, restContext_)) {
        Response r;
        r.status = 501;
        r.body = "<HTML><BODY><B>501 Specified protocol in request " + htmlEscape(afterDs) +
                 " is not supported. Current supported protocols are: rest</B></BODY></HTML>";
        return r;
    }

    const std::string_view verb = req.method;
    if (verb != "GET" && verb != "POST" && verb != "PUT" && verb != "DELETE")
        return errorResponse(501, "Command " + sanitizeUtf8(verb) +
                                      " in request is not supported. Accepted commands are: GET, POST, PUT and DELETE");

    std::string id = sessionIdFromQuery(query);
    if (id.empty())
        id = sessionIdFromPragma(req.pragma);
    std::shared_ptr<Session> session;
    if (!id.empty()) {
        session = sessions_.find(id);
        if (!session) {
            Response r;
            r.status = 403;
            r.reason = "Session has expired";
            r.body = kSessionExpired;
            return r;
        }
    } else {
        std::string user, password;
        std::vector<std::string> roles;
        if (auth_) {
            // Basic credentials, read only when a manager must admit the client
            std::string_view a = req.authorization;
            bool ok = false;
            if (startsWithNoCase(a, "Basic ")) {
                std::string decoded;
                std::string_view b64 = a.substr(6);
                static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
                unsigned acc = 0;
                int bits = 0;
                for (char c : b64) {
                    auto pos = chars.find(c);
                    if (pos == std::string::npos)
                        continue;
                    acc = (acc << 6) | static_cast<unsigned>(pos);
                    bits += 6;
                    if (bits >= 8) {
                        bits -= 8;
                        decoded += static_cast<char>((acc >> bits) & 0xFF);
                    }
                }
                std::size_t colon = decoded.find(':');
                user = decoded.substr(0, colon);
                password = colon == std::string::npos ? std::string{} : decoded.substr(colon + 1);
            }
            ok = auth_->authenticate("http", "datasnap/rest", user, password, roles);
            if (!ok) {
                Response r;
                r.status = 401;
                r.wwwAuthenticate = "Basic realm=\"REST\"";
                return r;
            }
        }
        session = sessions_.create();
        if (auth_) {
            session->authManager = auth_;
            session->userName = user;
            session->userRoles = roles;
        }
    }

    if (startsWithNoCase(rest, "/CloseSession/")) {
        sessions_.close(session->id());
        Response r;
        r.status = 200;
        r.reason = "{\"result\":[true]}";
        return r;
    }

    try {
        return dispatch(req, rest, *session);
    } catch (const std::exception &e) {
        return errorResponse(500, sanitizeUtf8(e.what()), pragmaFor(*session));
    } catch (...) {
        return errorResponse(500, "Unknown error", pragmaFor(*session));
    }
}

Response Dispatcher::dispatch(const Request &req, std::string_view remainder, Session &session) {
    if (!remainder.empty() && remainder.front() == '/')
        remainder.remove_prefix(1);
    if (!remainder.empty() && remainder.back() == '/')
        remainder.remove_suffix(1);
    std::vector<std::string_view> segs = split(remainder, '/');
    if (segs.size() < 2 || segs[0].empty())
        throw Error("Invalid request format. /className/methodName and eventual parameters expected.");

    std::string className = decodeSegment(segs[0]);
    std::string methodName = decodeSegment(segs[1]);
    if (!methodName.empty() && methodName.front() == '"') {
        // quoted: called as written, without the verb's prefix
        std::size_t close = methodName.find('"', 1);
        methodName = methodName.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else if (!methodName.empty() && methodName.front() == '\'') {
        // no prefix; the quote stays and the lookup fails as it does elsewhere
    } else if (className != "DSAdmin" && className != "DSMetadata") {
        if (req.method == "POST")
            methodName = "update" + methodName;
        else if (req.method == "PUT")
            methodName = "accept" + methodName;
        else if (req.method == "DELETE")
            methodName = "cancel" + methodName;
    }

    Server::Found found = server_.findMethod(className, methodName);
    if (!found)
        throw MethodNotFound(className + "." + methodName + " method not found in the server method list");

    std::vector<const ParamInfo *> inputs = found.method->inputs();
    std::size_t given = segs.size() - 2;
    if (given > inputs.size())
        throw ArgumentError("Server method " + found.cls->name + "." + found.method->name + " consumed only " +
                            std::to_string(inputs.size()) + " input parameters out of " + std::to_string(given) +
                            ". Either call with more parameters or change method definition.");

    std::vector<json::Value> values;
    values.reserve(inputs.size());
    for (std::size_t k = 0; k < given; ++k)
        values.push_back(segmentValue(decodeSegment(segs[k + 2]), inputs[k]->type));

    if (values.size() < inputs.size() && !blank(req.body)) {
        json::Value body;
        try {
            body = parseBody(req.body);
        } catch (const json::ParseError &) {
            throw Error("Message content is not a valid JSON value.");
        }
        auto fill = [&](json::Value v) {
            const ParamInfo *p = inputs[values.size()];
            values.push_back(p->type == DataType::WideString ? bodyToText(v) : std::move(v));
        };
        const json::Value *list = nullptr;
        if (body.isObject() && body.members.size() == 1 && body.members[0].first == "_parameters" &&
            body.members[0].second.isArray())
            list = &body.members[0].second;
        if (list) {
            for (const auto &item : list->items) {
                if (values.size() == inputs.size())
                    break;
                fill(item);
            }
        } else {
            fill(std::move(body));
        }
    }
    while (values.size() < inputs.size())
        values.push_back(json::Value::null());

    std::vector<json::Value> outputs = server_.invoke(session, found, std::move(values));

    Response r;
    r.status = req.method == "PUT" ? 201 : 200;
    r.body = "{\"result\":[";
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        if (k)
            r.body += ',';
        writeJson(r.body, outputs[k]);
    }
    r.body += "]}";
    r.pragma = pragmaFor(session);
    return r;
}

} // namespace datasnap::rest
