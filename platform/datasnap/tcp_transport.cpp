#include "tcp_transport.h"

#include <boost/asio.hpp>

#include <atomic>
#include <iostream>
#include <set>

#include "dbx_errors.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace datasnap {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

class TcpConnection;

// What connections share with their transport; it outlives the transport
// while handlers of closed connections drain.
struct TcpServerTransport::Hub {
    std::mutex lock;
    std::set<std::shared_ptr<TcpConnection>> connections;
    std::function<void(const std::string &)> log;
    bool stopping = false;

    void write(const std::string &line) {
        if (log)
            log(line);
        else
            std::cerr << "tcp transport: " << line << std::endl;
    }
};

// One client connection: the filter channel, the message layer and the session.
class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
public:
    TcpConnection(tcp::socket socket, Server &server, const TcpServerTransport::ConnectionSettings &s,
                  std::shared_ptr<TcpServerTransport::Hub> hub)
        : socket_(std::move(socket)), hub_(std::move(hub)), channel_(FilterChannel::Role::Server, s.filters, s.channel),
          session_(std::make_shared<Session>(generateSessionId(), "tcp")),
          dbx_(server, s.manager, session_, s.messages) {
        boost::system::error_code ec;
        auto ep = socket_.remote_endpoint(ec);
        peer_ = ec ? std::string("?") : ep.address().to_string() + ":" + std::to_string(ep.port());
        touch();
    }

    void start() {
        boost::system::error_code ec;
        socket_.set_option(tcp::no_delay(true), ec);
        socket_.set_option(asio::socket_base::keep_alive(true), ec);
        // A peer that vanished (half-open connection) is found within about 15 minutes.
        int idle = 600, interval = 60, count = 5;
        ::setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        ::setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        ::setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
        socket_.non_blocking(true, ec);
        asio::dispatch(socket_.get_executor(), [self = shared_from_this()] { self->waitRead(); });
    }

    // Closes the connection from any thread.
    void closeLater(std::string reason) {
        asio::post(socket_.get_executor(),
                   [self = shared_from_this(), reason = std::move(reason)] { self->close(reason); });
    }

    // Closes it when it has been quiet for longer than it may be.
    void checkIdle(Clock::time_point now, Clock::duration idleLimit, Clock::duration stallLimit) {
        auto last = Clock::time_point(Clock::duration(last_.load()));
        bool quiet = betweenMessages_.load();
        if (now - last > (quiet ? idleLimit : stallLimit))
            closeLater(quiet ? "idle for too long" : "stalled in the middle of a handshake, frame or message");
    }

private:
    void touch() { last_.store(Clock::now().time_since_epoch().count()); }

    void waitRead() {
        if (closed_)
            return;
        socket_.async_wait(tcp::socket::wait_read,
                           [self = shared_from_this()](const boost::system::error_code &ec) { self->onReadable(ec); });
    }

    void onReadable(const boost::system::error_code &ec) {
        if (closed_)
            return;
        if (ec) {
            close(ec == asio::error::operation_aborted ? "" : "read failed: " + ec.message());
            return;
        }
        thread_local std::string buffer(64 * 1024, '\0');
        boost::system::error_code rec;
        std::size_t n = socket_.read_some(asio::buffer(buffer), rec);
        if (rec == asio::error::would_block || rec == asio::error::try_again) {
            waitRead();
            return;
        }
        if (rec) {
            close(rec == asio::error::eof ? "" : "read failed: " + rec.message());
            return;
        }
        touch();
        try {
            std::string stream, reply;
            channel_.receive(std::string_view(buffer.data(), n), stream, reply);
            out_ += reply;
            if (!stream.empty()) {
                std::vector<std::string> writes;
                dbx_.receive(stream, writes);
                for (const auto &w : writes)
                    out_ += channel_.encode(w);
            }
        } catch (const ProtocolError &e) {
            fail(e.what());
            return;
        } catch (const std::exception &e) {
            fail(std::string("internal error: ") + e.what());
            return;
        }
        touch();
        betweenMessages_.store(channel_.idle() && dbx_.idle());
        if (dbx_.finished()) {
            const std::string &why = dbx_.finishReason();
            finishing_ = why == "disconnect" ? std::string() : why;
            finish_ = true;
        }
        flush();
    }

    void flush() {
        if (out_.empty()) {
            if (finish_)
                close(finishing_);
            else
                waitRead();
            return;
        }
        writing_.swap(out_);
        out_.clear();
        asio::async_write(socket_, asio::buffer(writing_),
                          [self = shared_from_this()](const boost::system::error_code &ec, std::size_t) {
                              if (self->closed_)
                                  return;
                              std::string().swap(self->writing_);
                              if (ec) {
                                  self->close("write failed: " + ec.message());
                                  return;
                              }
                              self->touch();
                              self->flush();
                          });
    }

    void fail(const std::string &why) {
        // The client's unanswered bytes are dropped with the connection.
        close(why);
    }

    void close(const std::string &why) {
        if (closed_)
            return;
        closed_ = true;
        if (!why.empty())
            hub_->write("closing connection from " + peer_ + ": " + why);
        boost::system::error_code ec;
        socket_.shutdown(tcp::socket::shutdown_both, ec);
        socket_.close(ec);
        session_->close();
        auto self = shared_from_this();
        std::lock_guard<std::mutex> g(hub_->lock);
        hub_->connections.erase(self);
    }

    tcp::socket socket_;
    std::shared_ptr<TcpServerTransport::Hub> hub_;
    FilterChannel channel_;
    std::shared_ptr<Session> session_;
    DbxServerConnection dbx_;
    std::string peer_;
    std::string out_, writing_;
    std::string finishing_;
    bool finish_ = false;
    bool closed_ = false;
    std::atomic<Clock::rep> last_{0};
    std::atomic<bool> betweenMessages_{false};
};

// The acceptor and the idle sweep of one started period, with a copy of the
// transport's settings; handlers hold it, so it outlives a stopped transport.
struct TcpServerTransport::Listener : std::enable_shared_from_this<Listener> {
    Listener(asio::io_context &ioc, Server &server, ConnectionSettings settings, std::shared_ptr<Hub> hub)
        : ioc(ioc), strand(asio::make_strand(ioc)), acceptor(strand), sweeper(strand), retry(strand),
          server(server), settings(std::move(settings)), hub(std::move(hub)) {}

    asio::io_context &ioc;
    asio::strand<asio::io_context::executor_type> strand;
    tcp::acceptor acceptor;
    asio::steady_timer sweeper;
    asio::steady_timer retry;
    Server &server;
    ConnectionSettings settings;
    std::shared_ptr<Hub> hub;
    bool stopped = false;

    void accept() {
        acceptor.async_accept(asio::make_strand(ioc), [self = shared_from_this()](const boost::system::error_code &ec,
                                                                                  tcp::socket socket) {
            self->onAccept(ec, std::move(socket));
        });
    }

    void onAccept(const boost::system::error_code &ec, tcp::socket socket) {
        if (stopped || ec == asio::error::operation_aborted)
            return;
        if (ec) {
            hub->write("accept failed: " + ec.message());
            // Out of descriptors and the like: wait a moment instead of spinning.
            retry.expires_after(std::chrono::milliseconds(200));
            retry.async_wait([self = shared_from_this()](const boost::system::error_code &e) {
                if (!e && !self->stopped)
                    self->accept();
            });
            return;
        }
        auto c = std::make_shared<TcpConnection>(std::move(socket), server, settings, hub);
        {
            std::lock_guard<std::mutex> g(hub->lock);
            if (hub->stopping)
                return;
            hub->connections.insert(c);
        }
        c->start();
        accept();
    }

    void sweep() {
        auto idle = std::chrono::duration_cast<Clock::duration>(settings.idleTimeout);
        auto stall = std::chrono::duration_cast<Clock::duration>(settings.stallTimeout);
        Clock::duration period = std::max<Clock::duration>(std::chrono::seconds(1), std::min(idle, stall) / 4);
        sweeper.expires_after(period);
        sweeper.async_wait([self = shared_from_this(), idle, stall](const boost::system::error_code &ec) {
            if (ec || self->stopped)
                return;
            std::vector<std::shared_ptr<TcpConnection>> all;
            {
                std::lock_guard<std::mutex> g(self->hub->lock);
                all.assign(self->hub->connections.begin(), self->hub->connections.end());
            }
            auto now = Clock::now();
            for (auto &c : all)
                c->checkIdle(now, idle, stall);
            self->sweep();
        });
    }

    void shutdown() {
        stopped = true;
        boost::system::error_code ec;
        acceptor.close(ec);
        sweeper.cancel();
        retry.cancel();
    }
};

TcpServerTransport::TcpServerTransport(Server &server) : Transport(server) {}

TcpServerTransport::~TcpServerTransport() { stop(); }

void TcpServerTransport::start() {
    if (listener_)
        return;
    asio::io_context &ioc = server().ioContext();
    auto hub = std::make_shared<Hub>();
    hub->log = OnLog;
    ConnectionSettings settings{Filters, ChannelLimit, MessageLimit, AuthenticationManager, IdleTimeout, StallTimeout};
    auto listener = std::make_shared<Listener>(ioc, server(), std::move(settings), hub);
    auto port = static_cast<std::uint16_t>(Port);
    boost::system::error_code ec;
    tcp::endpoint ep;
    tcp::acceptor &acceptor = listener->acceptor;
    if (BindAddress.empty()) {
        ep = tcp::endpoint(tcp::v6(), port);
        acceptor.open(ep.protocol(), ec);
        if (!ec)
            acceptor.set_option(asio::ip::v6_only(false), ec);
        if (ec) {
            acceptor.close(ec);
            ep = tcp::endpoint(tcp::v4(), port);
            acceptor.open(ep.protocol(), ec);
        }
    } else {
        auto address = asio::ip::make_address(BindAddress, ec);
        if (ec)
            throw TransportError("Invalid address " + BindAddress, ec.value());
        ep = tcp::endpoint(address, port);
        acceptor.open(ep.protocol(), ec);
    }
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(ep, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        throw TransportError("Could not bind socket. Address and port are already in use: " + std::to_string(port) +
                                 " (" + ec.message() + ")",
                             ec.value());
    boundPort_ = acceptor.local_endpoint(ec).port();
    hub_ = hub;
    listener_ = listener;
    listener->accept();
    listener->sweep();
}

void TcpServerTransport::stop() {
    if (!listener_)
        return;
    std::vector<std::shared_ptr<TcpConnection>> all;
    {
        std::lock_guard<std::mutex> g(hub_->lock);
        hub_->stopping = true;
        all.assign(hub_->connections.begin(), hub_->connections.end());
    }
    asio::post(listener_->strand, [l = listener_] { l->shutdown(); });
    for (auto &c : all)
        c->closeLater("");
    listener_.reset();
    hub_.reset();
    boundPort_ = 0;
}

std::uint16_t TcpServerTransport::localPort() const { return boundPort_; }

std::size_t TcpServerTransport::connectionCount() const {
    if (!hub_)
        return 0;
    std::lock_guard<std::mutex> g(hub_->lock);
    return hub_->connections.size();
}

} // namespace datasnap
