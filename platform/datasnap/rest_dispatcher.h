#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ds_server.h"
#include "rest_sessions.h"

namespace datasnap::rest {

// One HTTP request as the REST layer sees it (independent of the HTTP parser).
struct Request {
    std::string_view method; // "GET", "POST", ...
    std::string_view target; // request-target as received
    std::string_view pragma; // all Pragma header values, comma-joined
    std::string_view authorization;
    std::string_view body;
};

struct Response {
    unsigned status = 200;
    std::string reason; // empty: the standard phrase of `status`
    std::string body;
    std::string pragma;          // empty: no Pragma header
    std::string wwwAuthenticate; // empty: none
};

struct Contexts {
    std::string ds = "datasnap/";
    std::string rest = "rest/";
};

// Routes REST requests to server methods: contexts, the verb prefixes, the
// quoted-name form, parameters from path and body, sessions, result and error
// bodies.
class Dispatcher {
public:
    Dispatcher(Server &server, SessionStore &sessions, Contexts contexts, AuthenticationManager *auth = nullptr);

    Response handle(const Request &req);

    static constexpr const char *kSessionExpired =
        "{\"SessionExpired\":\"The specified session has expired due to inactivity or was an invalid Session ID\"}";

private:
    Response dispatch(const Request &req, std::string_view remainder, Session &session);
    std::string pragmaFor(const Session &s) const;

    Server &server_;
    SessionStore &sessions_;
    std::vector<std::string> dsContext_;   // segments of the DataSnap context
    std::vector<std::string> restContext_; // segments of the REST context
    AuthenticationManager *auth_;
};

} // namespace datasnap::rest
