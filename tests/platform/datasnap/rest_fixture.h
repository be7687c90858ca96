#pragma once

// A running server with one test class on a free loopback port.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <stdexcept>

#include "ds_server.h"
#include "http_service.h"
#include "http_test_client.h"

// Instances count themselves so that tests see which one served a call.
struct TestInstance {
    static inline std::atomic<int> made{0};
    static inline std::atomic<int> alive{0};
    int number;
    TestInstance() : number(++made) { ++alive; }
    ~TestInstance() { --alive; }
};

// Holds calls of the method "wait" until opened.
struct Gate {
    static inline std::mutex lock;
    static inline std::condition_variable changed;
    static inline bool open = false;
    static inline int waiting = 0;
};

inline datasnap::ClassInfo makeTestClass() {
    using namespace datasnap;
    using V = json::Value;
    ClassInfo c;
    c.name = "TTest";
    c.create = [] { return std::make_shared<TestInstance>(); };
    auto str = [](const char *n) { return ParamInfo{n, DataType::WideString, Direction::In}; };
    ParamInfo ret{"ReturnParameter", DataType::WideString, Direction::Return};
    ParamInfo retJson{"ReturnParameter", DataType::JsonValue, Direction::Return};

    // the inputs as received, nulls included
    c.methods.push_back({"params", {str("a"), str("b"), str("c"), retJson},
                         [](void *, std::vector<V> &in) -> std::vector<V> { return {V::array(in)}; }});
    c.methods.push_back({"updatejson3",
                         {str("a"), str("b"), {"v", DataType::JsonValue, Direction::In}, retJson},
                         [](void *, std::vector<V> &in) -> std::vector<V> { return {V::array(in)}; }});
    for (const char *name : {"echo", "updateecho", "acceptecho", "cancelecho"}) {
        std::string n = name;
        c.methods.push_back({n, {ret}, [n](void *, std::vector<V> &) -> std::vector<V> { return {V::string(n)}; }});
    }
    c.methods.push_back({"text", {str("Value"), ret}, [](void *, std::vector<V> &in) -> std::vector<V> {
                             return {V::string(stringArg(in[0]))};
                         }});
    c.methods.push_back({"whoami", {ret}, bindMethod<TestInstance>([](TestInstance &self, std::vector<V> &) {
                             return std::vector<V>{V::string(std::to_string(self.number))};
                         })});
    // blocks until the test opens the gate
    c.methods.push_back({"wait", {ret}, [](void *, std::vector<V> &) -> std::vector<V> {
                             std::unique_lock<std::mutex> g(Gate::lock);
                             ++Gate::waiting;
                             Gate::changed.notify_all();
                             Gate::changed.wait(g, [] { return Gate::open; });
                             return {V::string("done")};
                         }});
    c.methods.push_back({"boom", {ret}, [](void *, std::vector<V> &) -> std::vector<V> {
                             throw std::runtime_error("falhou \"aqui\"");
                         }});
    return c;
}

class RestServer {
public:
    explicit RestServer(datasnap::HttpLimits limits = {}, int sessionTimeout = 1200000) {
        entry.OnGetClass = [this](datasnap::ServerClass &, const datasnap::ClassInfo *&cls) { cls = &testClass; };
        http.HttpPort = 0;
        http.BindAddress = "127.0.0.1";
        http.Limits = limits;
        http.SessionTimeout = sessionTimeout;
        server.PoolSize = 2;
        server.Start();
    }
    ~RestServer() { server.Stop(); }
    std::uint16_t port() const { return http.listeningPort(); }

    datasnap::ClassInfo testClass = makeTestClass();
    datasnap::Server server;
    datasnap::ServerClass entry{server};
    datasnap::HttpService http{server};
};
