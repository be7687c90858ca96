#include <gtest/gtest.h>

#include "dbx_errors.h"
#include "pc1_cipher.h"
#include "tcp_filter_channel.h"

using namespace datasnap;

namespace {

constexpr const char *kKey = "mKpRuTqWbNcZxJvL";

// Runs the handshake between two in-memory channels.
void handshake(FilterChannel &client, FilterChannel &server) {
    std::string toServer = client.open(), toClient, stream;
    while (!client.established() || !server.established()) {
        std::string reply;
        server.receive(toServer, stream, reply);
        toServer.clear();
        toClient += reply;
        std::string back;
        client.receive(toClient, stream, back);
        toClient.clear();
        toServer += back;
        ASSERT_TRUE(stream.empty());
    }
}

struct OrderCase {
    const char *name;
    std::vector<TransportFilter> client;
    std::vector<TransportFilter::Kind> seen;
};

} // namespace

TEST(FilterChannel, EveryClientOrderRoundTripsWithTheRightCompression) {
    using K = TransportFilter::Kind;
    const OrderCase cases[] = {
        {"zlib first", {TransportFilter::zlib(1024), TransportFilter::pc1(kKey)}, {K::ZLib, K::Pc1}},
        {"pc1 first", {TransportFilter::pc1(kKey), TransportFilter::zlib(1024)}, {K::Pc1, K::ZLib}},
        {"adopting", {}, {K::ZLib, K::Pc1}},
        {"own key, low threshold", {TransportFilter::zlib(10), TransportFilter::pc1("another key")}, {K::ZLib, K::Pc1}},
    };
    for (const auto &c : cases) {
        FilterChannel server(FilterChannel::Role::Server, {TransportFilter::pc1(kKey), TransportFilter::zlib(1024)});
        FilterChannel client(FilterChannel::Role::Client, c.client);
        handshake(client, server);
        EXPECT_EQ(server.peerOrder(), c.seen) << c.name;
        // Each side compresses with the threshold the other announced; a client
        // announces the server's, which it adopted before describing itself.
        std::size_t serverThreshold = 1024;
        for (std::size_t size : {std::size_t(5), std::size_t(1024), std::size_t(1025), std::size_t(50000)}) {
            std::string msg(size, 'm');
            std::string up = client.encode(msg), down = server.encode(msg);
            std::string got, reply;
            server.receive(up, got, reply);
            EXPECT_EQ(got, msg) << c.name << " " << size;
            got.clear();
            client.receive(down, got, reply);
            EXPECT_EQ(got, msg) << c.name << " " << size;
            EXPECT_TRUE(reply.empty());
            // An uncompressed frame is header + marker + message.
            EXPECT_EQ(up.size() != size + 6, size > 1024) << c.name << " " << size;
            EXPECT_EQ(down.size() != size + 6, size > serverThreshold) << c.name << " " << size;
        }
    }
}

TEST(FilterChannel, StockServerLayoutForTheZLibFirstClient) {
    FilterChannel server(FilterChannel::Role::Server, {TransportFilter::pc1(kKey), TransportFilter::zlib(1024)});
    FilterChannel client(FilterChannel::Role::Client, {TransportFilter::zlib(1024), TransportFilter::pc1(kKey)});
    handshake(client, server);
    std::string msg = R"({"method":"disconnect","params":[0]})";
    // Client to server: PC1 outside, the marker encrypted.
    std::string up = client.encode(msg);
    EXPECT_EQ(up.substr(5), pc1Encrypt(kKey, "\x02" + msg));
    // Server to client: the marker in clear, PC1 inside.
    EXPECT_EQ(server.encode(msg).substr(5), "\x02" + pc1Encrypt(kKey, msg));
}

TEST(FilterChannel, FramesMaySplitAndShareReads) {
    FilterChannel server(FilterChannel::Role::Server, {TransportFilter::pc1(kKey), TransportFilter::zlib(1024)});
    FilterChannel client(FilterChannel::Role::Client, {});
    handshake(client, server);
    std::string wire = client.encode("first") + client.encode(std::string(3000, 'x')) + client.encode("third");
    std::string got, reply;
    for (std::size_t i = 0; i < wire.size(); i += 7)
        server.receive(wire.substr(i, 7), got, reply);
    EXPECT_EQ(got, "first" + std::string(3000, 'x') + "third");
    EXPECT_TRUE(server.idle());
}

TEST(FilterChannel, ClientDescriptionsAreChecked) {
    struct Case {
        const char *json;
        bool accepted;
    };
    std::string code = pc1Code(kKey);
    std::string wrongKeyCode = pc1Code("ABCDEFGHIJKLMNOP");
    const std::string descriptions[][2] = {
        {R"({"PC1":{"Key":"mKpRuTqWbNcZxJvL","CODE":")" + code + R"(","Extra":"x"},"ZLibCompression":null})", "1"},
        {R"({"ZLibCompression":{"FilterUnit":"dbxcompressionfilter","CompressMoreThan":"0"},"PC1":{"Key":"k"}})", "1"},
        {R"({"PC1":{"Key":"mKpRuTqWbNcZxJvL","CODE":")" + wrongKeyCode + R"("}})", "0"},
        {R"({"PC1":{"Key":"mKpRuTqWbNcZxJvL","CODE":")" + code.substr(0, 511) + R"(X"}})", "0"},
        {R"({"PC1":{"CODE":")" + code + R"("}})", "0"},
        {R"({"ZLibCompression":{"CompressMoreThan":"many"}})", "0"},
        {R"({"ZLibCompression":{"FilterUnit":"Other"}})", "0"},
        {R"({"ZLibCompression":{"Level":"9"}})", "0"},
        {R"({"PC1":{"Key":"k"},"PC1":{"Key":"k"}})", "0"},
        {R"({"RSA":{"UseGlobalKey":"true"}})", "0"},
        {R"(["PC1"])", "0"},
    };
    for (const auto &d : descriptions) {
        FilterChannel server(FilterChannel::Role::Server, {TransportFilter::pc1(kKey), TransportFilter::zlib(1024)});
        std::string stream, reply;
        server.receive("\x05\x05\x05\x05\x05", stream, reply);
        std::string frame = {'\x0D', 0, 0, static_cast<char>(d[0].size() >> 8), static_cast<char>(d[0].size())};
        if (d[1] == "1") {
            EXPECT_NO_THROW(server.receive(frame + d[0], stream, reply)) << d[0];
            EXPECT_TRUE(server.established());
            if (d[0].find("\"CompressMoreThan\":\"0\"") != std::string::npos) {
                EXPECT_EQ(server.encode("ab")[5], '\x01');  // the client's threshold of 0 adopted
            }
        } else {
            EXPECT_THROW(server.receive(frame + d[0], stream, reply), ProtocolError) << d[0];
        }
    }
}
