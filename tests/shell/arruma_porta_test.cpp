// arruma_porta: the configured port into the two transports.

#include <gtest/gtest.h>

#include "ServerContainerUnit1.h"
#include "http_test_client.h"
#include "uServerPrincipal.h"

namespace {

struct Shell {
    TFormPrincipal form;
    TServerContainer1 container{[this] { return form.Settings(); }, nullptr};
    Shell() { form.ServerContainer1 = &container; }
    void porta(const std::string &p) {
        TSettings s;
        s.Porta = p;
        form.ReplaceSettings(s);
    }
};

TEST(ArrumaPorta, DerivesBothPortsFromPorta) {
    static const struct {
        const char *porta;
        int tcp;
        int http;
    } cases[] = {
        {"211", 1211, 211},     {"8080", 18080, 8080}, {"0211", 10211, 211},
        {"12345", 112345, 12345}, {"0", 10, 0},         {"65535", 165535, 65535},
        {"70000", 170000, 4464}, // the 16-bit HttpPort keeps the low bits
    };
    for (const auto &c : cases) {
        Shell s;
        s.porta(c.porta);
        s.form.arruma_porta();
        EXPECT_EQ(s.container.DSTCPServerTransport1.Port, c.tcp) << c.porta;
        EXPECT_EQ(s.container.DSHTTPService1.DSPort, c.tcp) << c.porta;
        EXPECT_EQ(s.container.DSHTTPService1.HttpPort, c.http) << c.porta;
        EXPECT_EQ(s.container.DSHTTPService1.DSHostname, "localhost");
    }
}

TEST(ArrumaPorta, ConversionFailuresStopAtTheirStep) {
    static const struct {
        const char *porta;
        int tcp;     // after the call
        int http;
        const char *message;
    } cases[] = {
        // step 1 converts "1": the TCP port becomes 1, step 4 then fails
        {"", 1, 1234, "'' is not a valid integer value"},
        // step 1 fails: nothing changes
        {"abc", 211, 1234, "'1abc' is not a valid integer value"},
        {" 211", 211, 1234, "'1 211' is not a valid integer value"},
        {"9999999999", 211, 1234, "'19999999999' is not a valid integer value"},
    };
    for (const auto &c : cases) {
        Shell s;
        s.porta(c.porta);
        try {
            s.form.arruma_porta();
            ADD_FAILURE() << "no error for '" << c.porta << "'";
        } catch (const std::exception &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(s.container.DSTCPServerTransport1.Port, c.tcp) << c.porta;
        EXPECT_EQ(s.container.DSHTTPService1.DSPort, c.tcp) << c.porta;
        EXPECT_EQ(s.container.DSHTTPService1.HttpPort, c.http) << c.porta;
    }
}

TEST(ArrumaPorta, TheHttpServiceListensOnPortaAtTheNextStart) {
    Shell s;
    std::uint16_t free;
    {
        BusyPort probe; // a port that is free once the probe closes
        free = probe.port();
    }
    s.container.DSHTTPService1.BindAddress = "127.0.0.1";
    s.container.DSTCPServerTransport1.BindAddress = "127.0.0.1";
    s.porta(std::to_string(free));
    s.form.arruma_porta();
    s.container.DSTCPServerTransport1.Port = 0; // the derived TCP port may be taken on a shared machine
    s.container.DSServer1.Start();
    EXPECT_EQ(s.container.DSHTTPService1.listeningPort(), free);
    HttpTestClient c(free);
    EXPECT_EQ(c.request(httpRequest("GET", "/datasnap/rest/DSAdmin/GetPlatformName/")).body, R"({"result":["win32"]})");

    // a load while started changes the properties, not the listener
    s.porta("1");
    s.form.arruma_porta();
    EXPECT_EQ(s.container.DSHTTPService1.HttpPort, 1);
    EXPECT_EQ(s.container.DSHTTPService1.listeningPort(), free);
}

} // namespace
