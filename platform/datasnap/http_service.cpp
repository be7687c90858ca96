#include "http_service.h"

#include <mutex>
#include <optional>
#include <unordered_map>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
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

} // namespace

struct HttpService::Impl : std::enable_shared_from_this<Impl> {
    explicit Impl(Server &s) : server(s) {}

    Server &server;
    HttpLimits limits;
    std::unique_ptr<rest::SessionStore> sessions;
    std::unique_ptr<rest::Dispatcher> dispatcher;

    // Live only between start and the end of stop.
    std::optional<net::strand<net::io_context::executor_type>> strand;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<net::steady_timer> sweepTimer;
    std::unique_ptr<net::steady_timer> retryTimer;

    std::atomic<bool> running{false};
    std::atomic<std::uint16_t> port{0};

    std::mutex connLock;
    std::unordered_map<Connection *, std::weak_ptr<Connection>> connections;

    void accept();
    void armSweep();
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
        : stream_(std::move(socket)), owner_(std::move(owner)) {}
    ~Connection() { owner_->remove(this); }

    void start() {
        owner_->add(this, weak_from_this());
        if (!owner_->running) // the service stopped while this one was accepted
            return close();
        readHeader();
    }

    // Ends the connection from another thread (the service stops).
    void shutdown() {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            beast::error_code ec;
            self->stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
            self->stream_.close();
        });
    }

private:
    void readHeader() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(owner_->limits.maxHeader));
        parser_->body_limit(owner_->limits.maxBody);
        stream_.expires_after(owner_->limits.readTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    self->onHeader(ec);
                                });
    }

    bool failed(beast::error_code ec) {
        if (!ec)
            return false;
        if (ec == http::error::end_of_stream || ec == net::error::operation_aborted || !owner_->running) {
            close();
        } else if (ec == beast::error::timeout) {
            close(); // the stream has closed the socket already
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
            stream_.expires_after(owner_->limits.writeTimeout);
            net::async_write(stream_, net::buffer(cont), [self = shared_from_this()](beast::error_code ec, std::size_t) {
                if (ec)
                    return self->close();
                self->readBody();
            });
            return;
        }
        readBody();
    }

    void readBody() {
        stream_.expires_after(owner_->limits.readTimeout);
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (self->failed(ec))
                return;
            self->handle();
        });
    }

    void handle() {
        auto &req = parser_->get();
        std::string pragma;
        for (auto it = req.find(http::field::pragma); it != req.end() && it->name() == http::field::pragma; ++it) {
            if (!pragma.empty())
                pragma += ',';
            pragma.append(it->value().data(), it->value().size());
        }
        rest::Request r;
        r.method = {req.method_string().data(), req.method_string().size()};
        r.target = {req.target().data(), req.target().size()};
        r.pragma = pragma;
        auto auth = req[http::field::authorization];
        r.authorization = {auth.data(), auth.size()};
        r.body = req.body();

        rest::Response out;
        try {
            out = owner_->dispatcher->handle(r);
        } catch (const std::exception &e) {
            out = rest::Response{};
            out.status = 500;
            out.body = "{\"error\":" + rest::toJson(json::Value::string(rest::sanitizeUtf8(e.what()))) + "}";
        }

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
        stream_.expires_after(owner_->limits.writeTimeout);
        http::async_write(stream_, res_, [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
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
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (ec)
            return close();
        drained_ = 0;
        drain();
    }

    void drain() {
        stream_.expires_after(std::chrono::seconds(2));
        stream_.async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
            self->drained_ += n;
            if (ec || self->drained_ > 1024 * 1024)
                return self->close();
            self->drain();
        });
    }

    void close() {
        beast::error_code ec;
        stream_.socket().close(ec);
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> res_;
    std::shared_ptr<HttpService::Impl> owner_;
    std::array<char, 4096> scratch_{};
    std::size_t drained_ = 0;
};

} // namespace

void HttpService::Impl::accept() {
    acceptor->async_accept(net::make_strand(server.ioContext()), [self = shared_from_this()](beast::error_code ec,
                                                                                          tcp::socket socket) {
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

HttpService::~HttpService() { stop(); }

void HttpService::start() {
    if (impl_->running)
        return;
    // A fresh state each start: connections of an earlier period keep theirs.
    auto impl = std::make_shared<Impl>(server());
    impl->limits = Limits;
    impl->sessions = std::make_unique<rest::SessionStore>(Limits.maxSessions,
                                                           std::chrono::milliseconds(std::max(0, SessionTimeout)));
    impl->dispatcher = std::make_unique<rest::Dispatcher>(server(), *impl->sessions,
                                                          rest::Contexts{DSContext, RESTContext}, AuthenticationManager);
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
    impl->running = true;
    impl_ = impl;
    net::post(*impl->strand, [impl] {
        impl->accept();
        impl->armSweep();
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
        impl->acceptor.reset();
        impl->sweepTimer.reset();
        impl->retryTimer.reset();
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
    impl->sessions->closeAll();
}

bool HttpService::active() const { return impl_->running; }

std::uint16_t HttpService::listeningPort() const { return impl_->running ? impl_->port.load() : 0; }

std::size_t HttpService::sessionCount() const { return impl_->sessions ? impl_->sessions->size() : 0; }

} // namespace datasnap
