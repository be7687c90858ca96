#pragma once

// A plain HTTP/1.1 client over a loopback socket for the REST tests: sends
// raw bytes, reads one response (Content-Length framed) with a time limit.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

struct HttpReply {
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    bool has(const std::string &name) const { return headers.count(name) != 0; }
    std::string header(const std::string &name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string{} : it->second;
    }
};

class HttpTestClient {
public:
    explicit HttpTestClient(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~HttpTestClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool connected() const { return fd_ >= 0; }

    void send(const std::string &raw) {
        std::size_t off = 0;
        while (off < raw.size()) {
            ssize_t n = ::send(fd_, raw.data() + off, raw.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            off += static_cast<std::size_t>(n);
        }
    }

    // Reads one response; throws when the peer closes first or after `ms`.
    HttpReply read(int ms = 5000) {
        std::size_t end;
        while ((end = buf_.find("\r\n\r\n")) == std::string::npos)
            fill(ms);
        HttpReply r;
        std::string head = buf_.substr(0, end);
        buf_.erase(0, end + 4);
        std::size_t eol = head.find("\r\n");
        std::string line = head.substr(0, eol);
        r.status = std::stoi(line.substr(9, 3));
        r.reason = line.size() > 13 ? line.substr(13) : "";
        std::size_t pos = eol == std::string::npos ? head.size() : eol + 2;
        while (pos < head.size()) {
            std::size_t e = head.find("\r\n", pos);
            if (e == std::string::npos)
                e = head.size();
            std::string f = head.substr(pos, e - pos);
            std::size_t colon = f.find(':');
            std::string name = f.substr(0, colon);
            for (auto &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::string value = f.substr(colon + 1);
            while (!value.empty() && value.front() == ' ')
                value.erase(0, 1);
            r.headers[name] = value;
            pos = e + 2;
        }
        std::size_t len = r.has("content-length") ? std::stoul(r.header("content-length")) : 0;
        while (buf_.size() < len)
            fill(ms);
        r.body = buf_.substr(0, len);
        buf_.erase(0, len);
        return r;
    }

    HttpReply request(const std::string &raw) {
        send(raw);
        return read();
    }

    // True when the peer closes the connection within `ms` (any unread bytes
    // are discarded).
    bool closedByPeer(int ms = 5000) {
        try {
            for (;;)
                fill(ms);
        } catch (const std::runtime_error &e) {
            return std::string(e.what()) == "closed";
        }
    }

private:
    void fill(int ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            throw std::runtime_error("timeout");
        char tmp[65536];
        ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
        if (n <= 0)
            throw std::runtime_error("closed");
        buf_.append(tmp, static_cast<std::size_t>(n));
    }

    int fd_ = -1;
    std::string buf_;
};

// A request for path `target` with the usual headers of stock clients.
inline std::string httpRequest(const std::string &verb, const std::string &target, const std::string &body = {},
                               const std::string &extraHeaders = {}) {
    std::string r = verb + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/JSON\r\n" +
                    "Content-Type: text/plain;charset=UTF-8\r\n" + extraHeaders;
    if (!body.empty() || verb == "POST" || verb == "PUT")
        r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

// Binds a loopback port and keeps it listening, to make a port busy.
class BusyPort {
public:
    BusyPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd_, 1);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~BusyPort() { ::close(fd_); }
    std::uint16_t port() const { return port_; }

private:
    int fd_;
    std::uint16_t port_;
};
