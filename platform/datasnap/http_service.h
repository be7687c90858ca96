#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "ds_server.h"

namespace datasnap {

// Sizes and times a client controls, bounded.
struct HttpLimits {
    std::size_t maxRequestLine = 256 * 1024;      // beyond: 414
    std::size_t maxHeader = 320 * 1024;           // request line and header fields; beyond: 431
    std::size_t maxBody = 8 * 1024 * 1024;        // beyond: 413
    std::chrono::milliseconds readTimeout{30000}; // to receive one whole request, or wait for the next one
    std::chrono::milliseconds writeTimeout{30000};
    std::size_t maxCallThreads = 64;   // calls running at once (each may block on a device)
    std::size_t maxConnections = 8192; // further connections are closed at once
    // When reached, the session idle the longest ends. Each idle session keeps
    // its remote methods instance (about 3 KB with its database side), so the
    // cap bounds what clients that never present a session id can pin down:
    // 25,000 sessions is 20 such calls a second for the whole idle expiry.
    std::size_t maxSessions = 25000;
};

// The HTTP/REST transport: DataSnap's REST interface under
// /<DSContext>/<RESTContext>/, HTTP/1.1 with keep-alive, sessions by token.
class HttpService : public Transport {
public:
    explicit HttpService(Server &server);
    ~HttpService() override;

    std::uint16_t HttpPort = 80;
    int DSPort = 211; // the DataSnap TCP server this service names
    std::string DSHostname = "localhost";
    std::string DSContext = "datasnap/";
    std::string RESTContext = "rest/";
    int SessionTimeout = 1200000;                                     // milliseconds idle; 0: never
    datasnap::AuthenticationManager *AuthenticationManager = nullptr; // none: no credentials asked
    std::string BindAddress = "0.0.0.0";
    HttpLimits Limits;

    void start() override;
    void stop() override;

    bool active() const;
    // The port actually listened on (HttpPort, or the one chosen for port 0).
    std::uint16_t listeningPort() const;
    std::size_t sessionCount() const;

    struct Impl; // the listener's state (http_service.cpp)

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace datasnap
