#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbx_server_connection.h"
#include "ds_server.h"
#include "tcp_filter_channel.h"

namespace datasnap {

// The DataSnap TCP/IP transport: listens on `Port` (its low 16 bits), speaks
// the filter channel with `Filters`, admits clients through
// `AuthenticationManager` (none: everyone) and serves each connection as one
// session of the server, whose "Session" class instances live as long as the
// connection.
class TcpServerTransport : public Transport {
public:
    explicit TcpServerTransport(Server &server);
    ~TcpServerTransport() override;

    int Port = 211;
    // Threads that run the clients' requests: PoolSize kept, more added while
    // all are busy, up to MaxThreads (0: no limit).
    int PoolSize = 10;
    int MaxThreads = 0;
    datasnap::AuthenticationManager *AuthenticationManager = nullptr;
    std::vector<TransportFilter> Filters;

    // Address to listen on; empty means every IPv4 and IPv6 address.
    std::string BindAddress;
    ChannelLimits ChannelLimit;
    DbxLimits MessageLimit;
    // A connection that sends nothing for this long is closed; one stalled
    // in the middle of its handshake or of a frame or message much sooner.
    // Shop programs keep one connection open for days (a weekend included),
    // and TCP keepalive already finds peers that vanished, so this is long.
    std::chrono::seconds IdleTimeout{std::chrono::hours(72)};
    std::chrono::seconds StallTimeout{std::chrono::seconds(120)};
    // Where a closed connection's reason goes (one line each); stderr when empty.
    std::function<void(const std::string &)> OnLog;

    void start() override;
    void stop() override;

    // The port actually bound while started (differs from Port when Port is 0).
    std::uint16_t localPort() const;
    std::size_t connectionCount() const;

    struct Hub;
    struct ConnectionSettings {
        std::vector<TransportFilter> filters;
        ChannelLimits channel;
        DbxLimits messages;
        datasnap::AuthenticationManager *manager;
        std::chrono::seconds idleTimeout;
        std::chrono::seconds stallTimeout;
        std::size_t poolSize;
        std::size_t maxThreads;
    };

private:
    struct Listener;

    std::shared_ptr<Hub> hub_;
    std::shared_ptr<Listener> listener_;
    std::uint16_t boundPort_ = 0;
};

} // namespace datasnap
