#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbx_json.h"
#include "ds_server.h"
#include "tcp_transport.h"

namespace dbxtest {

// A stand-in for the remote methods class with the same published names and
// parameter types. Its methods echo what arrived, tagged with the instance.
struct EchoMethods {
    static inline std::atomic<int> created{0};
    static inline std::atomic<int> alive{0};
    int id;
    EchoMethods() : id(++created) { ++alive; }
    ~EchoMethods() { --alive; }
};

inline datasnap::ClassInfo echoClass() {
    using namespace datasnap;
    ClassInfo c;
    c.name = "TServerMethods1";
    c.create = [] { return std::shared_ptr<void>(std::make_shared<EchoMethods>()); };
    auto str = [](const char *n) { return ParamInfo{n, DataType::WideString, Direction::In}; };
    ParamInfo ret{"ReturnParameter", DataType::WideString, Direction::Return};
    c.methods.push_back({"print_texto",
                         {str("Usuario"), str("senha"), str("Value"), ret},
                         bindMethod<EchoMethods>([](EchoMethods &self, std::vector<json::Value> &in) {
                             if (stringArg(in[2]) == "fail")
                                 throw std::runtime_error("Invalid filename");
                             return std::vector<json::Value>{json::Value::string(
                                 std::to_string(self.id) + "|" + stringArg(in[0]) + "|" + stringArg(in[1]) + "|" +
                                 stringArg(in[2]))};
                         })});
    c.methods.push_back({"updateprint_json",
                         {str("Usuario"), str("senha"), ParamInfo{"Value", DataType::JsonValue, Direction::In}, ret},
                         bindMethod<EchoMethods>([](EchoMethods &self, std::vector<json::Value> &in) {
                             const json::Value *v = jsonArg(in[2]);
                             return std::vector<json::Value>{json::Value::string(
                                 std::to_string(self.id) + "|" + (v ? rtlJsonText(*v) : std::string("null")))};
                         })});
    return c;
}

// A started server with the echo class behind a TCP transport on a free
// loopback port, admitting the one account USER / PASS.
class EchoServer {
public:
    explicit EchoServer(std::vector<datasnap::TransportFilter> filters = {datasnap::TransportFilter::pc1(kKey),
                                                                          datasnap::TransportFilter::zlib(1024)})
        : cls_(echoClass()), entry_(server_), tcp_(server_) {
        EchoMethods::created = 0;
        server_.AutoStart = false;
        entry_.OnGetClass = [this](datasnap::ServerClass &, const datasnap::ClassInfo *&c) { c = &cls_; };
        auth_.OnUserAuthenticate = [](datasnap::AuthenticationManager &, const std::string &, const std::string &,
                                      const std::string &user, const std::string &password, bool &valid,
                                      std::vector<std::string> &) { valid = user == "USER" && password == "PASS"; };
        tcp_.Port = 0;
        tcp_.BindAddress = "127.0.0.1";
        tcp_.Filters = std::move(filters);
        tcp_.AuthenticationManager = &auth_;
        tcp_.OnLog = [this](const std::string &line) {
            std::lock_guard<std::mutex> g(logLock_);
            log_.push_back(line);
        };
    }
    ~EchoServer() { server_.Stop(); }

    void start() {
        server_.Start();
        port_ = tcp_.localPort();
    }
    std::uint16_t port() const { return port_; }
    datasnap::TcpServerTransport &tcp() { return tcp_; }
    datasnap::Server &server() { return server_; }
    std::vector<std::string> log() {
        std::lock_guard<std::mutex> g(logLock_);
        return log_;
    }

    static constexpr const char *kKey = "mKpRuTqWbNcZxJvL";

private:
    datasnap::ClassInfo cls_;
    datasnap::Server server_;
    datasnap::ServerClass entry_;
    datasnap::AuthenticationManager auth_;
    datasnap::TcpServerTransport tcp_;
    std::uint16_t port_ = 0;
    std::mutex logLock_;
    std::vector<std::string> log_;
};

} // namespace dbxtest
