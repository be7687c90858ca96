#include "tcp_transport.h"

#include <boost/asio.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <set>
#include <thread>

#include "dbx_errors.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace datasnap {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

class TcpConnection;

// Threads that run the connections' requests (and so the remote methods,
// which may block on a device for long). It keeps at least `keep` threads
// and adds one whenever every thread is busy, up to `max` (0: no limit), so a
// stuck print holds one thread and never the listener or other clients.
class WorkerPool : public std::enable_shared_from_this<WorkerPool> {
public:
    WorkerPool(std::size_t keep, std::size_t max) : keep_(std::max<std::size_t>(keep, 1)), max_(max) {}

    void post(std::function<void()> task) {
        std::unique_lock<std::mutex> g(lock_);
        queue_.push_back(std::move(task));
        if (idle_ > 0) {
            wake_.notify_one();
        } else if (max_ == 0 || threads_ < max_) {
            ++threads_;
            ++idle_;
            std::thread([self = shared_from_this()] { self->work(); }).detach();
        }
    }

    // Lets the threads end once the queue is empty; a thread held by a
    // method that does not return ends when it returns.
    void shutdown() {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        wake_.notify_all();
    }

private:
    void work() {
        std::unique_lock<std::mutex> g(lock_);
        for (;;) {
            while (queue_.empty() && !stopping_) {
                // Threads beyond the kept ones leave after a quiet minute.
                if (wake_.wait_for(g, std::chrono::seconds(60)) == std::cv_status::timeout && queue_.empty() &&
                    threads_ > keep_) {
                    --idle_;
                    --threads_;
                    return;
                }
            }
            if (queue_.empty()) {
                --idle_;
                --threads_;
                return;
            }
            auto task = std::move(queue_.front());
            queue_.pop_front();
            --idle_;
            g.unlock();
            try {
                task();
            } catch (...) {
            }
            g.lock();
            ++idle_;
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::size_t keep_, max_;
    std::size_t threads_ = 0, idle_ = 0;
    bool stopping_ = false;
};

// What connections share with their transport; it outlives the transport
// while handlers of closed connections drain.
struct TcpServerTransport::Hub {
    std::mutex lock;
    std::set<std::shared_ptr<TcpConnection>> connections;
    std::function<void(const std::string &)> log;
    bool stopping = false;
    // Workers serving a connection; their answer goes back through the
    // io_context, which must outlive them (stop() waits for them).
    int inflight = 0;
    bool dead = false;
    std::condition_variable drained;

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
                  std::shared_ptr<TcpServerTransport::Hub> hub, std::shared_ptr<WorkerPool> workers)
        : socket_(std::move(socket)), hub_(std::move(hub)), workers_(std::move(workers)),
          channel_(FilterChannel::Role::Server, s.filters, s.channel),
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
        // A worker reads, answers and writes until the client has nothing more
        // to say; the strand only waits. close() holds off while it works.
        bool stopping;
        {
            std::lock_guard<std::mutex> g(hub_->lock);
            stopping = hub_->stopping;
            if (!stopping)
                ++hub_->inflight;
        }
        if (stopping) {
            close("");
            return;
        }
        working_ = true;
        workers_->post([self = shared_from_this()]() mutable {
            self->serve();
            auto hub = self->hub_;
            std::lock_guard<std::mutex> g(hub->lock);
            if (!hub->dead)
                asio::post(self->socket_.get_executor(), [self] { self->served(); });
            // Our reference goes while the io_context surely lives: the
            // connection's socket and strand must not outlive it.
            self.reset();
            --hub->inflight;
            hub->drained.notify_all();
        });
    }

    // On a worker thread, while the strand leaves the socket alone.
    void serve() {
        thread_local std::string buffer(64 * 1024, '\0');
        int fd = socket_.native_handle();
        for (;;) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                end_ = true;
                if (n < 0)
                    failure_ = std::string("read failed: ") + std::strerror(errno);
                return;
            }
            touch();
            std::string out;
            try {
                std::string stream;
                channel_.receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)), stream, out);
                if (!stream.empty()) {
                    std::vector<std::string> writes;
                    dbx_.receive(stream, writes);
                    for (const auto &w : writes)
                        out += channel_.encode(w);
                }
            } catch (const ProtocolError &e) {
                // The client's unanswered bytes are dropped with the connection.
                failure_ = e.what();
            } catch (const std::exception &e) {
                failure_ = std::string("internal error: ") + e.what();
            }
            if (!failure_.empty())
                return;
            if (!sendAll(fd, out))
                return;
            touch();
            betweenMessages_.store(channel_.idle() && dbx_.idle());
            if (dbx_.finished()) {
                end_ = true;
                const std::string &why = dbx_.finishReason();
                failure_ = why == "disconnect" ? std::string() : why;
                return;
            }
        }
    }

    bool sendAll(int fd, std::string_view out) {
        while (!out.empty()) {
            ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                out.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A client that does not read its answers gets a minute.
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 60000) > 0)
                    continue;
                failure_ = "the client does not read its answers";
            } else {
                failure_ = std::string("write failed: ") + std::strerror(errno);
            }
            end_ = true;
            return false;
        }
        return true;
    }

    void served() {
        working_ = false;
        if (closeRequested_ || end_ || !failure_.empty()) {
            close(closeRequested_ ? closeAfterWork_ : failure_);
            return;
        }
        waitRead();
    }

    void close(const std::string &why) {
        if (closed_)
            return;
        if (working_) {
            // Closed by the sweep or Stop while a worker serves: once it is done.
            closeRequested_ = true;
            closeAfterWork_ = why;
            return;
        }
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
    std::shared_ptr<WorkerPool> workers_;
    FilterChannel channel_;
    std::shared_ptr<Session> session_;
    DbxServerConnection dbx_;
    std::string peer_;
    std::string failure_;        // why the worker ended the connection
    std::string closeAfterWork_; // a close that waited for the worker
    bool closeRequested_ = false;
    bool working_ = false;
    bool end_ = false;
    bool closed_ = false;
    std::atomic<Clock::rep> last_{0};
    std::atomic<bool> betweenMessages_{false};
};

// The acceptor and the idle sweep of one started period, with a copy of the
// transport's settings; handlers hold it, so it outlives a stopped transport.
struct TcpServerTransport::Listener : std::enable_shared_from_this<Listener> {
    Listener(asio::io_context &ioc, Server &server, ConnectionSettings settings, std::shared_ptr<Hub> hub)
        : ioc(ioc), strand(asio::make_strand(ioc)), acceptor(strand), sweeper(strand), retry(strand), server(server),
          settings(std::move(settings)), hub(std::move(hub)),
          workers(std::make_shared<WorkerPool>(this->settings.poolSize, this->settings.maxThreads)) {}

    asio::io_context &ioc;
    asio::strand<asio::io_context::executor_type> strand;
    tcp::acceptor acceptor;
    asio::steady_timer sweeper;
    asio::steady_timer retry;
    Server &server;
    ConnectionSettings settings;
    std::shared_ptr<Hub> hub;
    std::shared_ptr<WorkerPool> workers;
    bool stopped = false;

    void accept() {
        acceptor.async_accept(asio::make_strand(ioc),
                              [self = shared_from_this()](const boost::system::error_code &ec, tcp::socket socket) {
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
        auto c = std::make_shared<TcpConnection>(std::move(socket), server, settings, hub, workers);
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
        workers->shutdown();
    }
};

TcpServerTransport::TcpServerTransport(Server &server) : Transport(server) {}

TcpServerTransport::~TcpServerTransport() {
    stop();
}

void TcpServerTransport::start() {
    if (listener_)
        return;
    asio::io_context &ioc = server().ioContext();
    auto hub = std::make_shared<Hub>();
    hub->log = OnLog;
    ConnectionSettings settings{Filters,
                                ChannelLimit,
                                MessageLimit,
                                AuthenticationManager,
                                IdleTimeout,
                                StallTimeout,
                                static_cast<std::size_t>(std::max(PoolSize, 1)),
                                static_cast<std::size_t>(std::max(MaxThreads, 0))};
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
    {
        // Workers still answering post back to the io_context: it must be
        // there for them. A method that hangs is given up on after a while.
        std::unique_lock<std::mutex> g(hub_->lock);
        if (!hub_->drained.wait_for(g, std::chrono::seconds(10), [this] { return hub_->inflight == 0; }))
            hub_->write("stopping with " + std::to_string(hub_->inflight) + " requests still running");
        hub_->dead = true;
    }
    listener_.reset();
    hub_.reset();
    boundPort_ = 0;
}

std::uint16_t TcpServerTransport::localPort() const {
    return boundPort_;
}

std::size_t TcpServerTransport::connectionCount() const {
    if (!hub_)
        return 0;
    std::lock_guard<std::mutex> g(hub_->lock);
    return hub_->connections.size();
}

} // namespace datasnap
