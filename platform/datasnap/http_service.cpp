#include "http_service.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "rest_dispatcher.h"
#include "rest_text.h"

namespace datasnap {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr const char *kContentType = "text/html; charset=ISO-8859-1";

class Connection;

// Runs the calls away from the I/O threads, since a method may block on a
// device: a worker is added whenever none is free (up to a bound), so a
// blocked call holds one worker and never the listener or other clients.
class CallPool {
public:
    explicit CallPool(std::size_t maxWorkers) : max_(std::max<std::size_t>(1, maxWorkers)) {}
    ~CallPool() { shutdown(); }

    void submit(std::function<void()> job) {
        std::lock_guard<std::mutex> g(lock_);
        if (stopping_)
            return; // the service has stopped; its connections are closing
        queue_.push_back(std::move(job));
        if (idle_ < queue_.size() && threads_.size() < max_)
            threads_.emplace_back([this] { work(); });
        else
            ready_.notify_one();
    }

    // Lets the queued and running calls finish, then ends the workers.
    void shutdown() {
        {
            std::lock_guard<std::mutex> g(lock_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (auto &t : threads_)
            if (t.joinable())
                t.join();
    }

private:
    void work() {
        std::unique_lock<std::mutex> g(lock_);
        for (;;) {
            ++idle_;
            ready_.wait(g, [this] { return stopping_ || !queue_.empty(); });
            --idle_;
            if (queue_.empty())
                return; // stopping
            auto job = std::move(queue_.front());
            queue_.pop_front();
            g.unlock();
            job();
            g.lock();
        }
    }

    std::size_t max_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

} // namespace

struct HttpService::Impl : std::enable_shared_from_this<Impl> {
    explicit Impl(Server &s) : server(s) {}

    Server &server;
    HttpLimits limits;
    std::unique_ptr<rest::SessionStore> sessions;
    std::unique_ptr<rest::Dispatcher> dispatcher;
    std::unique_ptr<CallPool> calls;
    std::atomic<int> inlineCalls{0};
    int inlineLimit = 0; // the I/O threads less one

    // Live only between start and the end of stop.
    std::optional<net::strand<net::io_context::executor_type>> strand;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<net::steady_timer> sweepTimer;
    std::unique_ptr<net::steady_timer> retryTimer;
    std::unique_ptr<net::steady_timer> watchTimer;

    std::atomic<bool> running{false};
    std::atomic<std::uint16_t> port{0};

    std::mutex connLock;
    std::unordered_map<Connection *, std::weak_ptr<Connection>> connections;

    void accept();
    void armSweep();
    void armWatch();
    void add(Connection *c, std::weak_ptr<Connection> w) {
        std::lock_guard<std::mutex> g(connLock);
        connections.emplace(c, std::move(w));
    }
    void remove(Connection *c) {
        std::lock_guard<std::mutex> g(connLock);
        connections.erase(c);
    }
    std::size_t connectionCount() {
        std::lock_guard<std::mutex> g(connLock);
        return connections.size();
    }
};

namespace {

std::string statusPage(http::status s, std::string_view reason) {
    return "<HTML><BODY><B>" + std::to_string(static_cast<unsigned>(s)) + " " + std::string(reason) +
           "</B></BODY></HTML>";
}

// One client connection: reads requests one after the other, answers each,
// keeps the connection while the client wants it.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<HttpService::Impl> owner)
        : socket_(std::move(socket)), owner_(std::move(owner)) {}
    ~Connection() { owner_->remove(this); }

    void start() {
        owner_->add(this, weak_from_this());
        if (!owner_->running) // the service stopped while this one was accepted
            return close();
        readHeader();
    }

    // Ends the connection from another thread (the service stops).
    void shutdown() {
        net::post(socket_.get_executor(), [self = shared_from_this()] {
            beast::error_code ec;
            self->socket_.shutdown(tcp::socket::shutdown_both, ec);
            self->close();
        });
    }

    // Called by the service's watch when the deadline may have passed.
    void checkDeadline(std::int64_t now) {
        std::int64_t d = deadline_.load(std::memory_order_relaxed);
        if (d == 0 || now < d)
            return;
        net::post(socket_.get_executor(), [self = shared_from_this()] {
            std::int64_t d2 = self->deadline_.load(std::memory_order_relaxed);
            if (d2 == 0 || nowMs() < d2)
                return; // the operation finished meanwhile
            self->timedOut_ = true;
            self->close();
        });
    }

    static std::int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

private:
    void readHeader() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(owner_->limits.maxHeader));
        parser_->body_limit(owner_->limits.maxBody);
        arm(owner_->limits.readTimeout);
        http::async_read_header(socket_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    bool failed(beast::error_code ec) {
        deadline_ = 0;
        if (!ec)
            return false;
        if (timedOut_ || ec == http::error::end_of_stream || ec == net::error::operation_aborted || !owner_->running) {
            close();
        } else if (ec == http::error::header_limit) {
            // the parser keeps the start line once it is complete
            std::size_t target = parser_ ? parser_->get().target().size() : 0;
            fail(target == 0 || target > owner_->limits.maxRequestLine ? http::status::uri_too_long
                                                                       : http::status::request_header_fields_too_large);
        } else if (ec == http::error::body_limit) {
            fail(http::status::payload_too_large);
        } else if (ec.category() == http::make_error_code(http::error::bad_target).category()) {
            fail(http::status::bad_request);
        } else {
            close();
        }
        return true;
    }

    void onHeader(beast::error_code ec) {
        if (failed(ec))
            return;
        auto &req = parser_->get();
        if (req.target().size() > owner_->limits.maxRequestLine)
            return fail(http::status::uri_too_long);
        if (parser_->is_done())
            return handle();
        auto expect = req[http::field::expect];
        if (rest::equalNoCase(std::string_view(expect.data(), expect.size()), "100-continue")) {
            static const std::string cont = "HTTP/1.1 100 Continue\r\n\r\n";
            arm(owner_->limits.writeTimeout);
            net::async_write(socket_, net::buffer(cont),
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                 self->deadline_ = 0;
                                 if (ec)
                                     return self->close();
                                 self->readBody();
                             });
            return;
        }
        readBody();
    }

    void readBody() {
        arm(owner_->limits.readTimeout);
        http::async_read(socket_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (self->failed(ec))
                return;
            self->handle();
        });
    }

    void handle() {
        auto &req = parser_->get();
        pragma_.clear();
        for (auto it = req.find(http::field::pragma); it != req.end() && it->name() == http::field::pragma; ++it) {
            if (!pragma_.empty())
                pragma_ += ',';
            pragma_.append(it->value().data(), it->value().size());
        }
        // Calls run on the I/O thread while at least one I/O thread stays free
        // for the others; beyond that they go to the worker pool. Either way
        // the request stays in parser_ until the answer is written.
        if (owner_->inlineCalls.fetch_add(1) < owner_->inlineLimit) {
            rest::Response out = call();
            owner_->inlineCalls.fetch_sub(1);
            return respond(std::move(out));
        }
        owner_->inlineCalls.fetch_sub(1);
        owner_->calls->submit([self = shared_from_this()] {
            rest::Response out = self->call();
            net::post(self->socket_.get_executor(),
                      [self, out = std::move(out)]() mutable { self->respond(std::move(out)); });
        });
    }

    rest::Response call() {
        auto &req = parser_->get();
        rest::Request r;
        r.method = {req.method_string().data(), req.method_string().size()};
        r.target = {req.target().data(), req.target().size()};
        r.pragma = pragma_;
        auto auth = req[http::field::authorization];
        r.authorization = {auth.data(), auth.size()};
        r.body = req.body();
        try {
            return owner_->dispatcher->handle(r);
        } catch (const std::exception &e) {
            rest::Response out;
            out.status = 500;
            out.body = "{\"error\":" + rest::toJson(json::Value::string(rest::sanitizeUtf8(e.what()))) + "}";
            return out;
        }
    }

    void respond(rest::Response out) {
        auto &req = parser_->get();
        res_ = {};
        res_.version(req.version());
        res_.result(out.status);
        if (!out.reason.empty())
            res_.reason(out.reason);
        res_.set(http::field::content_type, kContentType);
        if (!out.pragma.empty())
            res_.set(http::field::pragma, out.pragma);
        if (!out.wwwAuthenticate.empty())
            res_.set(http::field::www_authenticate, out.wwwAuthenticate);
        res_.keep_alive(req.keep_alive());
        if (req.method() == http::verb::head) {
            res_.content_length(out.body.size());
        } else {
            res_.body() = std::move(out.body);
            res_.prepare_payload();
        }
        write(res_.keep_alive());
    }

    void write(bool keepAlive) {
        arm(owner_->limits.writeTimeout);
        http::async_write(socket_, res_, [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
            self->deadline_ = 0;
            if (ec)
                return self->close();
            if (!keepAlive || !self->owner_->running)
                return self->finish();
            self->readHeader();
        });
    }

    // Answers a request that cannot be served, then ends the connection.
    void fail(http::status status) {
        res_ = {};
        res_.version(11);
        res_.result(status);
        res_.set(http::field::content_type, kContentType);
        res_.keep_alive(false);
        res_.body() = statusPage(status, http::obsolete_reason(status));
        res_.prepare_payload();
        write(false);
    }

    // Half-closes and reads what the client still sends for a moment, so that
    // our last answer is not lost to a reset.
    void finish() {
        beast::error_code ec;
        socket_.shutdown(tcp::socket::shutdown_send, ec);
        if (ec)
            return close();
        drained_ = 0;
        drain();
    }

    void drain() {
        arm(std::chrono::seconds(2));
        socket_.async_read_some(net::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->drained_ > 1024 * 1024)
                                        return self->close();
                                    self->drain();
                                });
    }

    void close() {
        deadline_ = 0;
        beast::error_code ec;
        socket_.close(ec);
    }

    // Deadlines are checked by the service's watch timer instead of a timer
    // per operation: one time stamp per connection, no timer traffic per request.
    void arm(std::chrono::milliseconds ms) { deadline_.store(nowMs() + ms.count(), std::memory_order_relaxed); }

    tcp::socket socket_;
    std::string pragma_;
    std::atomic<std::int64_t> deadline_{0};
    bool timedOut_ = false;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> res_;
    std::shared_ptr<HttpService::Impl> owner_;
    std::array<char, 4096> scratch_{};
    std::size_t drained_ = 0;
};

} // namespace

void HttpService::Impl::accept() {
    acceptor->async_accept(net::make_strand(server.ioContext()),
                           [self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
                               if (!self->running || !self->acceptor || !self->acceptor->is_open())
                                   return;
                               if (ec) {
                                   if (ec == net::error::operation_aborted)
                                       return;
                                   // out of descriptors or buffers: wait a moment instead of spinning
                                   self->retryTimer->expires_after(std::chrono::milliseconds(50));
                                   self->retryTimer->async_wait([self](beast::error_code e) {
                                       if (!e && self->running && self->acceptor)
                                           self->accept();
                                   });
                                   return;
                               }
                               if (self->connectionCount() >= self->limits.maxConnections) {
                                   beast::error_code ignored;
                                   socket.close(ignored);
                               } else {
                                   beast::error_code ignored;
                                   socket.set_option(tcp::no_delay(true), ignored);
                                   std::make_shared<Connection>(std::move(socket), self)->start();
                               }
                               self->accept();
                           });
}

// Closes the connections whose current operation has run past its deadline.
void HttpService::Impl::armWatch() {
    auto shortest = std::min(limits.readTimeout, limits.writeTimeout);
    auto every = std::clamp<std::chrono::milliseconds>(shortest / 4, std::chrono::milliseconds(10),
                                                       std::chrono::milliseconds(1000));
    watchTimer->expires_after(every);
    watchTimer->async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec || !self->running || !self->watchTimer)
            return;
        std::int64_t now = Connection::nowMs();
        std::vector<std::shared_ptr<Connection>> open;
        {
            std::lock_guard<std::mutex> g(self->connLock);
            open.reserve(self->connections.size());
            for (auto &[p, w] : self->connections)
                if (auto c = w.lock())
                    open.push_back(std::move(c));
        }
        // outside the lock: dropping the last reference unregisters the connection
        for (auto &c : open)
            c->checkDeadline(now);
        open.clear();
        self->armWatch();
    });
}

void HttpService::Impl::armSweep() {
    if (sessions->timeout().count() <= 0)
        return;
    auto every = std::min<std::chrono::milliseconds>(sessions->timeout(), std::chrono::seconds(60));
    sweepTimer->expires_after(every);
    sweepTimer->async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec || !self->running || !self->sweepTimer)
            return;
        self->sessions->sweep();
        self->armSweep();
    });
}

HttpService::HttpService(Server &server) : Transport(server), impl_(std::make_shared<Impl>(server)) {}

HttpService::~HttpService() {
    stop();
}

void HttpService::start() {
    if (impl_->running)
        return;
    // A fresh state each start: connections of an earlier period keep theirs.
    auto impl = std::make_shared<Impl>(server());
    impl->limits = Limits;
    impl->sessions = std::make_unique<rest::SessionStore>(Limits.maxSessions,
                                                          std::chrono::milliseconds(std::max(0, SessionTimeout)));
    impl->dispatcher = std::make_unique<rest::Dispatcher>(
        server(), *impl->sessions, rest::Contexts{DSContext, RESTContext}, AuthenticationManager);
    impl->calls = std::make_unique<CallPool>(Limits.maxCallThreads);
    impl->inlineLimit = static_cast<int>(std::max(1u, server().PoolSize)) - 1;
    auto &ioc = server().ioContext();
    impl->strand.emplace(net::make_strand(ioc));
    beast::error_code ec;
    auto address = net::ip::make_address(BindAddress, ec);
    if (ec)
        throw TransportError("Invalid address to listen on: " + BindAddress, ec.value());
    tcp::endpoint ep(address, HttpPort);
    auto acc = std::make_unique<tcp::acceptor>(*impl->strand);
    acc->open(ep.protocol(), ec);
    if (!ec)
        acc->set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        acc->bind(ep, ec);
    if (!ec)
        acc->listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        throw TransportError("Could not listen on HTTP port " + std::to_string(HttpPort) + ": " + ec.message(),
                             ec.value());
    impl->port = acc->local_endpoint().port();
    impl->acceptor = std::move(acc);
    impl->sweepTimer = std::make_unique<net::steady_timer>(*impl->strand);
    impl->retryTimer = std::make_unique<net::steady_timer>(*impl->strand);
    impl->watchTimer = std::make_unique<net::steady_timer>(*impl->strand);
    impl->running = true;
    impl_ = impl;
    net::post(*impl->strand, [impl] {
        impl->accept();
        impl->armSweep();
        impl->armWatch();
    });
}

void HttpService::stop() {
    auto impl = impl_;
    if (!impl->running.exchange(false))
        return;
    // Everything below runs on the pool, which the server drains next.
    net::post(*impl->strand, [impl] {
        beast::error_code ec;
        impl->acceptor->close(ec);
        impl->sweepTimer->cancel();
        impl->retryTimer->cancel();
        impl->watchTimer->cancel();
        impl->acceptor.reset();
        impl->sweepTimer.reset();
        impl->retryTimer.reset();
        impl->watchTimer.reset();
        // the last handle on the strand goes before the io_context does
        impl->strand.reset();
    });
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard<std::mutex> g(impl->connLock);
        for (auto &[p, w] : impl->connections)
            if (auto c = w.lock())
                open.push_back(std::move(c));
    }
    for (auto &c : open)
        c->shutdown();
    open.clear();
    // the calls still running answer first (the I/O threads run until the server drains)
    impl->calls->shutdown();
    impl->sessions->closeAll();
}

bool HttpService::active() const {
    return impl_->running;
}

std::uint16_t HttpService::listeningPort() const {
    return impl_->running ? impl_->port.load() : 0;
}

std::size_t HttpService::sessionCount() const {
    return impl_->sessions ? impl_->sessions->size() : 0;
}

} // namespace datasnap
