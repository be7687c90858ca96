// Start/Stop of the server with its transports, and the limits that protect
// the HTTP service from bad or slow clients.

#include <gtest/gtest.h>

#include <thread>

#include "rest_fixture.h"
#include "rest_sessions.h"

namespace {

TEST(ServerLifecycle, StartTwiceAndStopWhenStoppedChangeNothing) {
    datasnap::Server server;
    datasnap::HttpService http(server);
    http.HttpPort = 0;
    http.BindAddress = "127.0.0.1";
    EXPECT_FALSE(server.Started());
    server.Stop();
    EXPECT_FALSE(server.Started());

    server.Start();
    ASSERT_TRUE(server.Started());
    std::uint16_t port = http.listeningPort();
    server.Start();
    EXPECT_TRUE(server.Started());
    EXPECT_EQ(http.listeningPort(), port);
    HttpTestClient c(port);
    EXPECT_EQ(c.request(httpRequest("GET", "/datasnap/rest/DSAdmin/GetPlatformName/")).status, 200);

    server.Stop();
    EXPECT_FALSE(server.Started());
    EXPECT_FALSE(http.active());
    EXPECT_TRUE(c.closedByPeer()); // open connections end with the server
    EXPECT_FALSE(HttpTestClient(port).connected());
    server.Stop();
    EXPECT_FALSE(server.Started());

    // and it starts again
    http.HttpPort = port;
    server.Start();
    EXPECT_EQ(http.listeningPort(), port);
    EXPECT_EQ(HttpTestClient(port).request(httpRequest("GET", "/datasnap/rest/DSAdmin/GetPlatformName/")).status, 200);
}

TEST(ServerLifecycle, BusyPortRollsBackTheTransportsAlreadyStarted) {
    BusyPort busy;
    datasnap::Server server;
    datasnap::HttpService first(server); // attached first, starts first
    datasnap::HttpService second(server);
    first.HttpPort = 0;
    first.BindAddress = "127.0.0.1";
    second.HttpPort = busy.port();

    try {
        server.Start();
        FAIL() << "Start must raise the transport's error";
    } catch (const datasnap::TransportError &e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(busy.port())), std::string::npos) << e.what();
    }
    EXPECT_FALSE(server.Started());
    EXPECT_FALSE(first.active());
    EXPECT_FALSE(second.active());

    // a later Start on a free port serves normally
    second.HttpPort = 0;
    second.BindAddress = "127.0.0.1";
    server.Start();
    EXPECT_TRUE(server.Started());
    EXPECT_EQ(HttpTestClient(second.listeningPort()).request(httpRequest("GET", "/datasnap/rest/DSAdmin/GetPlatformName/")).body,
              R"({"result":["win32"]})");
}

TEST(ServerLifecycle, StopEndsSessionsAndFreesInstances) {
    int before = TestInstance::alive;
    {
        RestServer srv;
        HttpTestClient c(srv.port());
        c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/"));
        c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/"));
        EXPECT_EQ(TestInstance::alive, before + 2);
        srv.server.Stop();
        EXPECT_EQ(TestInstance::alive, before);
        EXPECT_EQ(srv.http.sessionCount(), 0u);
    }
}

struct LimitCase {
    const char *name;
    std::string request;
    int status;
};

TEST(HttpLimits, OversizedAndMalformedRequestsGetTheirErrorAndOthersGoOn) {
    datasnap::HttpLimits limits;
    limits.maxRequestLine = 2000;
    limits.maxHeader = 4000;
    limits.maxBody = 1000;
    RestServer srv(limits);
    const std::string path = "/datasnap/rest/TTest/text/";
    const LimitCase cases[] = {
        {"long request line", "GET " + path + std::string(3000, 'a') + "/ HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {"long line, partly sent", "GET " + path + std::string(5000, 'a'), 414},
        {"long header", "GET " + path + " HTTP/1.1\r\nX-Big: " + std::string(5000, 'b') + "\r\n\r\n", 431},
        {"long line and header", "GET " + path + std::string(2500, 'a') + " HTTP/1.1\r\nX-Big: " + std::string(2000, 'b') + "\r\n\r\n", 414},
        {"large body", "POST " + path + " HTTP/1.1\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, '{'), 413},
        {"garbage", "HELLO\r\n\r\n", 400},
        {"bad header", "GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400},
        {"control char in path", "GET /a\x01 HTTP/1.1\r\n\r\n", 400},
        {"bad version", "GET / HTTP/9\r\n\r\n", 400},
    };
    HttpTestClient bystander(srv.port());
    for (const auto &c : cases) {
        HttpTestClient client(srv.port());
        client.send(c.request);
        HttpReply r = client.read();
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_TRUE(client.closedByPeer()) << c.name;
        EXPECT_EQ(bystander.request(httpRequest("GET", path + "ok/")).body, R"({"result":["ok"]})") << c.name;
    }
    // just within the limits
    HttpTestClient fits(srv.port());
    EXPECT_EQ(fits.request(httpRequest("GET", path + std::string(1500, 'a') + "/")).status, 200);
    EXPECT_EQ(fits.request(httpRequest("POST", "/datasnap/rest/TTest/json3/u/p/", "[" + std::string(900, ' ') + "]")).status, 200);
}

TEST(HttpLimits, SilentAndSlowClientsAreTimedOut) {
    datasnap::HttpLimits limits;
    limits.readTimeout = std::chrono::milliseconds(300);
    RestServer srv(limits);
    HttpTestClient silent(srv.port());
    HttpTestClient slow(srv.port());
    slow.send("GET /datasnap/rest/TTest/echo/ HTTP/1.1\r\n"); // never finishes
    HttpTestClient other(srv.port());
    EXPECT_EQ(other.request(httpRequest("GET", "/datasnap/rest/TTest/echo/")).status, 200);
    EXPECT_TRUE(silent.closedByPeer());
    EXPECT_TRUE(slow.closedByPeer());
}

TEST(HttpCalls, BlockedCallsHoldNeitherTheListenerNorOtherClients) {
    RestServer srv; // two I/O threads
    constexpr int kBlocked = 5;
    std::vector<std::unique_ptr<HttpTestClient>> blocked;
    for (int i = 0; i < kBlocked; ++i) {
        blocked.push_back(std::make_unique<HttpTestClient>(srv.port()));
        blocked.back()->send(httpRequest("GET", "/datasnap/rest/TTest/wait/"));
    }
    {
        std::unique_lock<std::mutex> g(Gate::lock);
        ASSERT_TRUE(Gate::changed.wait_for(g, std::chrono::seconds(10), [] { return Gate::waiting == kBlocked; }));
    }
    HttpTestClient other(srv.port());
    EXPECT_EQ(other.request(httpRequest("GET", "/datasnap/rest/TTest/echo/")).body, R"({"result":["echo"]})");
    {
        std::lock_guard<std::mutex> g(Gate::lock);
        Gate::open = true;
    }
    Gate::changed.notify_all();
    for (auto &c : blocked)
        EXPECT_EQ(c->read().body, R"({"result":["done"]})");
}

// The idle expiry, with a clock the test moves.
TEST(SessionStore, ExpiresAtTheTimeoutExactly) {
    datasnap::rest::SessionStore store(10, std::chrono::milliseconds(1200000));
    auto t = datasnap::rest::SessionStore::Clock::now();
    store.now = [&t] { return t; };
    auto s = store.create();
    std::string id = s->id();
    t += std::chrono::milliseconds(1199999);
    ASSERT_TRUE(store.find(id)); // and that resets the idle time
    t += std::chrono::milliseconds(1199999);
    ASSERT_TRUE(store.find(id));
    t += std::chrono::milliseconds(1200000);
    EXPECT_FALSE(store.find(id));
    EXPECT_TRUE(s->closed());
    EXPECT_EQ(store.size(), 0u);

    auto a = store.create();
    t += std::chrono::milliseconds(600000);
    auto b = store.create();
    t += std::chrono::milliseconds(600000);
    EXPECT_EQ(store.sweep(), 1u); // a, idle for 20 minutes
    EXPECT_TRUE(a->closed());
    EXPECT_FALSE(b->closed());
}

TEST(SessionStore, ZeroTimeoutNeverExpires) {
    datasnap::rest::SessionStore store(10, std::chrono::milliseconds(0));
    auto t = datasnap::rest::SessionStore::Clock::now();
    store.now = [&t] { return t; };
    std::string id = store.create()->id();
    t += std::chrono::hours(1000);
    EXPECT_TRUE(store.find(id));
}

} // namespace
