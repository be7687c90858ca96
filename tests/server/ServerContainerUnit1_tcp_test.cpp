// The server container's TCP/IP transport end to end: a DataSnap TCP client
// over loopback printing into a file through the real remote methods.

#include <gtest/gtest.h>

#include "ServerContainerUnit1.h"
#include "dbx_client.h"
#include "dbx_print_client.h"
#include "temp_dir.h"

namespace {

using datasnap::DbxClient;
using datasnap::DbxClientOptions;
using datasnap::DbxRemoteError;
using datasnap::TransportFilter;
using testutil::readFile;
using testutil::TempDir;

json::Value str(std::string s) { return json::Value::string(std::move(s)); }

class ContainerTcp : public ::testing::Test {
protected:
    ContainerTcp()
        : c([this] { return std::make_shared<const TSettings>(settings); },
            [](const std::string &, std::string &) { return true; }) {
        settings.Usuario = "USER";
        settings.Senha = "PASS";
        settings.op_impr = "1";
        settings.condensa = "N";
        settings.corta = "N";
        settings.vimpressora = dir.file("out.prn");
        c.DSHTTPService1.HttpPort = 0;
        c.DSHTTPService1.BindAddress = "127.0.0.1";
        c.DSTCPServerTransport1.Port = 0;
        c.DSTCPServerTransport1.BindAddress = "127.0.0.1";
    }
    DbxClientOptions client(std::string user = "USER", std::string password = "PASS") {
        DbxClientOptions o;
        o.port = c.DSTCPServerTransport1.localPort();
        o.user = std::move(user);
        o.password = std::move(password);
        o.filters = {TransportFilter::zlib(1024), TransportFilter::pc1("mKpRuTqWbNcZxJvL")};
        return o;
    }

    TempDir dir;
    TSettings settings;
    TServerContainer1 c;
};

// "Olá" + LF + "x" as UTF-8, Base64, URL-encoded.
const std::string kPayload = "T2zDoQp4";
const std::string kPrinted = "Ol\xE1\r\nx\r\n";

TEST_F(ContainerTcp, BothMethodsPrintIntoTheFile) {
    c.DSServer1.Start();
    ASSERT_NE(c.DSTCPServerTransport1.localPort(), 0);
    DbxClient k(client());
    k.open();
    EXPECT_EQ(k.call("TServerMethods1.print_texto", {str("USER"), str("PASS"), str(kPayload)}).text,
              "Realizada com sucesso.");
    EXPECT_EQ(readFile(settings.vimpressora), kPrinted);
    json::Value obj = json::Value::object({{"texto", str(kPayload)}});
    EXPECT_EQ(k.call("TServerMethods1.updateprint_json", {str("USER"), str("PASS"), obj}).text,
              "Realizada com sucesso.");
    EXPECT_EQ(readFile(settings.vimpressora), kPrinted);
    // A result text that reports a failure travels as a result.
    settings.vimpressora = dir.file("no/such/folder/out.prn");
    EXPECT_EQ(k.call("TServerMethods1.print_texto", {str("USER"), str("PASS"), str(kPayload)}).text.substr(0, 40),
              "Erro: Ao abrir dispositivo de impressao.");
    // A device path too long leaves the method: a failed call.
    settings.vimpressora = std::string(300, 'x');
    try {
        k.call("TServerMethods1.print_texto", {str("USER"), str("PASS"), str(kPayload)});
        ADD_FAILURE();
    } catch (const DbxRemoteError &e) {
        EXPECT_EQ(e.name, "EInOutError");
        EXPECT_EQ(e.code, 5);
        EXPECT_STREQ(e.what(), "Remote error: Invalid filename");
    }
}

TEST_F(ContainerTcp, OnlyTheAccountOfTheSettingsIsAdmitted) {
    c.DSServer1.Start();
    EXPECT_NO_THROW(DbxClient(client()).open());
    EXPECT_THROW(DbxClient(client("user", "PASS")).open(), DbxRemoteError);
    // An unconfigured server opens its door to nobody, empty credentials included.
    settings.Usuario.clear();
    settings.Senha.clear();
    EXPECT_THROW(DbxClient(client("", "")).open(), DbxRemoteError);
    EXPECT_THROW(DbxClient(client("USER", "PASS")).open(), DbxRemoteError);
}

TEST_F(ContainerTcp, StartAndStopOpenAndCloseTheListener) {
    c.DSServer1.Start();
    std::uint16_t port = c.DSTCPServerTransport1.localPort();
    DbxClient k(client());
    k.open();
    c.DSServer1.Stop();
    EXPECT_EQ(c.DSTCPServerTransport1.localPort(), 0);
    DbxClientOptions o = client();
    o.port = port;
    EXPECT_ANY_THROW(DbxClient(o).open());
}

} // namespace

namespace {

// The administrator's test print, over either transport and every filter order.
TEST_F(ContainerTcp, PrintClientOverTcpAndRest) {
    c.DSServer1.Start();
    const std::string text = "Ol\xC3\xA1\nx";  // "Olá" LF "x"
    const std::string payload = datasnap::encodePrintPayload(text);
    EXPECT_EQ(payload, kPayload);
    for (auto filters : {std::vector<TransportFilter>{TransportFilter::pc1("mKpRuTqWbNcZxJvL"), TransportFilter::zlib()},
                         std::vector<TransportFilter>{}}) {
        DbxClientOptions o = client();
        o.filters = filters;
        DbxClient k(o);
        k.open();
        for (bool asJson : {false, true}) {
            std::remove(settings.vimpressora.c_str());
            EXPECT_EQ(datasnap::tcpPrint(k, "USER", "PASS", payload, asJson), "Realizada com sucesso.");
            EXPECT_EQ(readFile(settings.vimpressora), kPrinted);
        }
    }
    for (bool asJson : {false, true}) {
        std::remove(settings.vimpressora.c_str());
        EXPECT_EQ(datasnap::restPrint("127.0.0.1", c.DSHTTPService1.listeningPort(), "USER", "PASS", payload, asJson),
                  "Realizada com sucesso.");
        EXPECT_EQ(readFile(settings.vimpressora), kPrinted);
    }
    // A plus sign of the Base64 text travels escaped.
    EXPECT_EQ(datasnap::encodePrintPayload("\xFB\xEF"), "%2B%2B8%3D");
}

} // namespace
