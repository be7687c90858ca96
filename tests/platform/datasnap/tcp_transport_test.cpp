#include <gtest/gtest.h>

#include <boost/asio.hpp>

#include <thread>

#include "dbx_client.h"
#include "dbx_fixture.h"
#include "pc1_cipher.h"
#include "zlib_filter.h"

using namespace datasnap;
using dbxtest::EchoServer;

namespace {

struct Order {
    const char *name;
    std::vector<TransportFilter> filters;
};

const Order kOrders[] = {
    {"ZLibFirst", {TransportFilter::zlib(1024), TransportFilter::pc1(EchoServer::kKey)}},
    {"Pc1First", {TransportFilter::pc1(EchoServer::kKey), TransportFilter::zlib(1024)}},
    {"Adopting", {}},
};

// Bytes seen on the client's socket, per direction.
struct Wire {
    std::size_t out = 0, in = 0;
    std::string all;
    void operator()(bool o, std::string_view b) {
        (o ? out : in) += b.size();
        all.append(b);
    }
};

class TcpTransportTest : public ::testing::TestWithParam<Order> {
protected:
    void SetUp() override {
        dbxtest::EchoMethods::created = 0;
        server_.start();
    }

    DbxClientOptions options(std::string user = "USER", std::string password = "PASS") {
        DbxClientOptions o;
        o.port = server_.port();
        o.user = std::move(user);
        o.password = std::move(password);
        o.filters = GetParam().filters;
        o.timeout = std::chrono::seconds(10);
        return o;
    }

    EchoServer server_;
};

json::Value str(std::string s) { return json::Value::string(std::move(s)); }

} // namespace

TEST_P(TcpTransportTest, RightAndWrongCredentials) {
    DbxClient ok(options());
    ASSERT_NO_THROW(ok.open());
    EXPECT_EQ(ok.call("TServerMethods1.print_texto", {str("USER"), str("PASS"), str("abc")}).text, "1|USER|PASS|abc");

    struct Bad {
        const char *user, *password;
    };
    for (Bad b : {Bad{"user", "PASS"}, Bad{"USER", "pass"}, Bad{"", ""}, Bad{"USER ", "PASS"}}) {
        DbxClient refused(options(b.user, b.password));
        try {
            refused.open();
            ADD_FAILURE() << "admitted " << b.user << "/" << b.password;
        } catch (const DbxRemoteError &e) {
            EXPECT_EQ(e.code, 0);
            EXPECT_EQ(e.name, "TDBXError");
            EXPECT_STREQ(e.what(), "Remote error: Authentication manager rejected user credentials. This may due to "
                                   "invalid combination of DS user name and password");
        }
        // A refused client that keeps going is cut off.
        EXPECT_ANY_THROW(refused.prepare("TServerMethods1.print_texto"));
    }
    EXPECT_EQ(dbxtest::EchoMethods::created.load(), 1);
}

TEST_P(TcpTransportTest, BothMethodsAndRepeatedCallsOnOneHandle) {
    DbxClient c(options());
    c.open();
    auto cmd = c.prepare("TServerMethods1.print_texto");
    ASSERT_EQ(cmd.params.size(), 4u);
    EXPECT_EQ(cmd.params[3].name, "ReturnParameter");
    for (std::string v : {"first", "caf\u00E9 \u20AC \U0001F600", ""})
        EXPECT_EQ(c.execute(cmd, {str("USER"), str("PASS"), str(v)}).at(0).text, "1|USER|PASS|" + v);

    json::Value obj = json::parse(R"({"texto":"SGVsbG8=\/x"})");
    EXPECT_EQ(c.call("TServerMethods1.updateprint_json", {str("USER"), str("PASS"), obj}).text,
              R"(1|{"texto":"SGVsbG8=\/x"})");
    EXPECT_EQ(c.call("TServerMethods1.updateprint_json", {str("USER"), str("PASS"), json::Value::null()}).text,
              "1|null");
    EXPECT_EQ(c.call("DSAdmin.GetPlatformName", {}).kind, json::Value::Kind::String);
    EXPECT_EQ(c.vendorProperty("DriverVersion"), "");

    // Errors leave the connection usable.
    try {
        c.prepare("TServerMethods1.missing");
        ADD_FAILURE();
    } catch (const DbxRemoteError &e) {
        EXPECT_EQ(e.code, 105);
    }
    c.commandClose(cmd.handle);
    try {
        c.execute(cmd, {str("U"), str("P"), str("x")});
        ADD_FAILURE();
    } catch (const DbxRemoteError &e) {
        EXPECT_EQ(e.code, 29);
        EXPECT_EQ(std::string(e.what()), "Remote error: Invalid command handle:  " + std::to_string(cmd.handle));
    }
    EXPECT_EQ(c.call("TServerMethods1.print_texto", {str("U"), str("P"), str("again")}).text, "1|U|P|again");
    c.close();
}

TEST_P(TcpTransportTest, LongValuesTakeTheMoreBlobPathBothWays) {
    Wire wire;
    auto o = options();
    o.onWire = std::ref(wire);
    DbxClient c(o);
    c.open();
    std::string big;
    for (int i = 0; big.size() < 100000; ++i)
        big += "linha " + std::to_string(i) + " \u00E7\u20AC\n";
    json::Value r = c.call("TServerMethods1.print_texto", {str("USER"), str("PASS"), str(big)});
    EXPECT_EQ(r.text, "1|USER|PASS|" + big);
}

TEST_P(TcpTransportTest, MessagesAboveTheThresholdAreCompressedBothWays) {
    Wire wire;
    auto o = options();
    o.onWire = std::ref(wire);
    DbxClient c(o);
    c.open();
    auto cmd = c.prepare("TServerMethods1.print_texto");
    std::string value(20000, 'A');
    wire = {};
    EXPECT_EQ(c.execute(cmd, {str("USER"), str("PASS"), str(value)}).at(0).text, "1|USER|PASS|" + value);
    EXPECT_LT(wire.out, 5000u);
    EXPECT_LT(wire.in, 5000u);
}

TEST_P(TcpTransportTest, EachConnectionHasItsOwnInstance) {
    {
        DbxClient a(options()), b(options());
        a.open();
        b.open();
        std::string ra = a.call("TServerMethods1.print_texto", {str("U"), str("P"), str("a")}).text;
        std::string rb = b.call("TServerMethods1.print_texto", {str("U"), str("P"), str("b")}).text;
        EXPECT_NE(ra.substr(0, 2), rb.substr(0, 2));
        EXPECT_EQ(a.call("TServerMethods1.print_texto", {str("U"), str("P"), str("a")}).text, ra);
        EXPECT_EQ(dbxtest::EchoMethods::alive.load(), 2);
        a.close();
        // b drops its socket without disconnect
    }
    for (int i = 0; i < 200 && dbxtest::EchoMethods::alive.load() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(dbxtest::EchoMethods::alive.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(FilterOrders, TcpTransportTest, ::testing::ValuesIn(kOrders),
                         [](const auto &info) { return std::string(info.param.name); });

namespace {

// A raw socket to the server for byte-level checks.
struct Raw {
    boost::asio::io_context ioc;
    boost::asio::ip::tcp::socket s{ioc};
    explicit Raw(std::uint16_t port) {
        s.connect({boost::asio::ip::make_address("127.0.0.1"), port});
        timeval tv{5, 0};
        setsockopt(s.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    void write(std::string_view b) { boost::asio::write(s, boost::asio::buffer(b)); }
    std::string read(std::size_t n) {
        std::string b(n, '\0');
        boost::asio::read(s, boost::asio::buffer(b));
        return b;
    }
    // True when the server closed the connection.
    bool closed() {
        char c;
        boost::system::error_code ec;
        s.read_some(boost::asio::buffer(&c, 1), ec);
        return ec == boost::asio::error::eof || ec == boost::asio::error::connection_reset;
    }
};

std::string frame(std::string_view payload) {
    std::string h = {'\x0D', static_cast<char>(payload.size() >> 24), static_cast<char>(payload.size() >> 16),
                     static_cast<char>(payload.size() >> 8), static_cast<char>(payload.size())};
    return h + std::string(payload);
}

std::string clientDescription(const std::string &code) {
    return R"({"ZLibCompression":{"FilterUnit":"DbxCompressionFilter","CompressMoreThan":"1024"},"PC1":{"Key":")" +
           std::string(EchoServer::kKey) + R"(","CODE":")" + code + R"(","FilterUnit":"DbxSocketChannelNative"}})";
}

} // namespace

TEST(TcpTransportWire, HandshakeAndFirstCallBytes) {
    EchoServer server;
    server.start();
    Raw raw(server.port());
    raw.write("\x05\x05\x05\x05\x05");
    std::string header = raw.read(5);
    EXPECT_EQ(header, std::string("\x0D\x00\x00\x02\xA4", 5));
    std::string ours = raw.read(0x2A4);
    EXPECT_EQ(ours, R"({"PC1":{"Key":"mKpRuTqWbNcZxJvL","CODE":")" + pc1Code(EchoServer::kKey) +
                        R"(","FilterUnit":"DbxSocketChannelNative"},"ZLibCompression":{"FilterUnit":)"
                        R"("DbxCompressionFilter","CompressMoreThan":"1024"}})");
    raw.write(frame(clientDescription(pc1Code(EchoServer::kKey))));
    // Stock layout: client frames are PC1 over marker + message, ours are marker + PC1 of the message.
    std::string connect = R"({"method":"connect","params":[{"DSAuthenticationUser":"USER",)"
                          R"("DSAuthenticationPassword":"PASS"}]})";
    raw.write(frame(pc1Encrypt(EchoServer::kKey, "\x02" + connect)));
    std::string reply = R"({"result":[0,"DataSnap",2]})";
    EXPECT_EQ(raw.read(5 + 1 + reply.size()), frame("\x02" + pc1Encrypt(EchoServer::kKey, reply)));
    // A disconnect is not answered; the client closes.
    raw.write(frame(pc1Encrypt(EchoServer::kKey, std::string("\x02") + R"({"method":"disconnect","params":[0]})")));
    EXPECT_TRUE(raw.closed());
}

TEST(TcpTransportWire, BrokenHandshakesAndFramesCloseOnlyThatConnection) {
    EchoServer server;
    server.tcp().ChannelLimit.maxFrame = 1 << 20;
    server.tcp().ChannelLimit.maxInflated = 1 << 20;
    server.start();
    std::string goodCode = pc1Code(EchoServer::kKey);
    std::string badCode = goodCode;
    badCode[0] = badCode[0] == 'E' ? 'F' : 'E';

    DbxClient bystander(DbxClientOptions{"127.0.0.1", server.port(), "USER", "PASS", {}, 32768,
                                         std::chrono::seconds(10), {}});
    bystander.open();

    struct Case {
        const char *what;
        std::string afterQuery;  // sent after the query and our description
    };
    std::string connect = std::string("\x02") + R"({"method":"connect","params":[{}]})";
    const Case cases[] = {
        {"bad CODE", frame(clientDescription(badCode))},
        {"unknown zlib parameter",
         frame(R"({"ZLibCompression":{"Level":"9"},"PC1":{"Key":"mKpRuTqWbNcZxJvL"}})")},
        {"unregistered filter", frame(R"({"RSA":{}})")},
        {"not json", frame("hello")},
        {"oversized frame", frame(clientDescription(goodCode)) + std::string("\x0D\x7F\xFF\xFF\xFF", 5)},
        {"bad frame byte", frame(clientDescription(goodCode)) + std::string("\x06\x00\x00\x00\x01x", 6)},
        {"zlib bomb", frame(clientDescription(goodCode)) +
                          frame(pc1Encrypt(EchoServer::kKey, zlibWrap(std::string(8 << 20, ' '), 0)))},
        {"garbage message", frame(clientDescription(goodCode)) + frame(pc1Encrypt(EchoServer::kKey, "\x02]]]"))},
    };
    for (const auto &c : cases) {
        Raw raw(server.port());
        raw.write("\x05\x05\x05\x05\x05");
        raw.read(5 + 0x2A4);
        raw.write(c.afterQuery);
        EXPECT_TRUE(raw.closed()) << c.what;
    }
    {
        Raw noQuery(server.port());
        noQuery.write(R"({"method":"connect","params":[{}]})");
        EXPECT_TRUE(noQuery.closed());
    }
    EXPECT_GE(server.log().size(), std::size(cases));
    EXPECT_EQ(bystander.call("TServerMethods1.print_texto", {str("U"), str("P"), str("still here")}).text,
              "1|U|P|still here");
}

TEST(TcpTransportWire, StalledAndIdleConnectionsAreClosed) {
    EchoServer server;
    server.tcp().StallTimeout = std::chrono::seconds(1);
    server.tcp().IdleTimeout = std::chrono::seconds(2);
    server.start();
    Raw stalled(server.port());
    stalled.write("\x05\x05");
    DbxClient idle(DbxClientOptions{"127.0.0.1", server.port(), "USER", "PASS", {}, 32768, std::chrono::seconds(10), {}});
    idle.open();
    EXPECT_TRUE(stalled.closed());
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_ANY_THROW(idle.call("TServerMethods1.print_texto", {str("U"), str("P"), str("late")}));
    EXPECT_EQ(server.tcp().connectionCount(), 0u);
}

TEST(TcpTransportWire, ServerWithoutFiltersSpeaksTheBareStream) {
    EchoServer server(std::vector<TransportFilter>{});
    server.start();
    Raw raw(server.port());
    raw.write("\x05\x05\x05\x05\x05");
    EXPECT_EQ(raw.read(5), std::string("\x06\x00\x00\x00\x00", 5));
    DbxClient c(DbxClientOptions{"127.0.0.1", server.port(), "USER", "PASS", {}, 32768, std::chrono::seconds(10), {}});
    c.open();
    EXPECT_FALSE(c.channel().filtered());
    EXPECT_EQ(c.call("TServerMethods1.print_texto", {str("U"), str("P"), str("bare")}).text, "1|U|P|bare");
}

TEST(TcpTransportWire, StopClosesConnectionsAndFreesInstances) {
    EchoServer server;
    server.start();
    DbxClient c(DbxClientOptions{"127.0.0.1", server.port(), "USER", "PASS", {}, 32768, std::chrono::seconds(10), {}});
    c.open();
    c.call("TServerMethods1.print_texto", {str("U"), str("P"), str("x")});
    EXPECT_EQ(dbxtest::EchoMethods::alive.load(), 1);
    server.server().Stop();
    EXPECT_EQ(dbxtest::EchoMethods::alive.load(), 0);
    EXPECT_ANY_THROW(c.call("TServerMethods1.print_texto", {str("U"), str("P"), str("x")}));
    server.server().Start();
    ASSERT_TRUE(server.server().Started());
    DbxClient again(DbxClientOptions{"127.0.0.1", server.tcp().localPort(), "USER", "PASS", {}, 32768,
                                     std::chrono::seconds(10), {}});
    again.open();
}
