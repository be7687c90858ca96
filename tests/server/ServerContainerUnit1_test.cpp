// The server container over real sockets: the published methods printing into
// a file, the authentication handlers, and the design-time settings.

#include <gtest/gtest.h>

#include <atomic>

#include "ServerContainerUnit1.h"
#include "http_test_client.h"
#include "temp_dir.h"

namespace {

using testutil::readFile;
using testutil::TempDir;

// A container on a record the test fills, its HTTP service on a free port.
struct Container {
    TSettings settings;
    std::atomic<int> pages{0};
    TServerContainer1 c{[this] { return std::make_shared<const TSettings>(settings); },
                        [this](const std::string &, std::string &) {
                            ++pages;
                            return true;
                        }};
    Container() {
        settings.Usuario = "USER";
        settings.Senha = "PASS";
        settings.op_impr = "1";
        settings.condensa = "N";
        settings.corta = "N";
        c.DSHTTPService1.HttpPort = 0;
        c.DSHTTPService1.BindAddress = "127.0.0.1";
        c.DSTCPServerTransport1.Port = 0;
        c.DSTCPServerTransport1.BindAddress = "127.0.0.1";
    }
    std::uint16_t port() const { return c.DSHTTPService1.listeningPort(); }
};

TEST(ServerContainer, DesignTimeSettings) {
    Container k;
    TServerContainer1 &c = k.c;
    EXPECT_FALSE(c.DSServer1.AutoStart);
    EXPECT_FALSE(c.DSServer1.Started());
    EXPECT_FALSE(c.DSServer1.HideDSAdmin);
    TServerContainer1 fresh{nullptr, nullptr};
    EXPECT_EQ(fresh.DSHTTPService1.HttpPort, 1234);
    EXPECT_EQ(fresh.DSTCPServerTransport1.Port, 211);
    EXPECT_EQ(c.DSTCPServerTransport1.PoolSize, 10);
    EXPECT_EQ(c.DSTCPServerTransport1.MaxThreads, 0);
    EXPECT_EQ(c.DSTCPServerTransport1.AuthenticationManager, &c.DSAuthenticationManager1);
    EXPECT_EQ(c.DSHTTPService1.AuthenticationManager, nullptr);
    EXPECT_EQ(c.DSHTTPService1.DSPort, 211);
    EXPECT_EQ(c.DSHTTPService1.DSHostname, "localhost");
    EXPECT_EQ(c.DSHTTPService1.DSContext, "datasnap/");
    EXPECT_EQ(c.DSHTTPService1.RESTContext, "rest/");
    EXPECT_EQ(c.DSHTTPService1.SessionTimeout, 1200000);
    EXPECT_EQ(c.DSServerClass1.LifeCycle, datasnap::LifeCycle::Session);

    const datasnap::ClassInfo *cls = nullptr;
    c.DSServerClass1GetClass(c.DSServerClass1, cls);
    ASSERT_EQ(cls, &c.TServerMethods1Class());
    EXPECT_EQ(cls->name, "TServerMethods1");
    // what a TCP client's prepare is answered with
    auto f = c.DSServer1.findMethod("TServerMethods1.UPDATEPRINT_JSON");
    ASSERT_TRUE(f);
    ASSERT_EQ(f.method->params.size(), 4u);
    EXPECT_EQ(f.method->params[0].name, "Usuario");
    EXPECT_EQ(f.method->params[1].name, "senha");
    EXPECT_EQ(f.method->params[2].name, "Value");
    EXPECT_EQ(f.method->params[2].type, datasnap::DataType::JsonValue);
    EXPECT_EQ(f.method->params[3].direction, datasnap::Direction::Return);
    EXPECT_EQ(c.DSServer1.findMethod("TServerMethods1", "print_texto").method->params[2].type,
              datasnap::DataType::WideString);
}

TEST(ServerContainer, AuthenticationAdmitsOnlyTheAccountExactly) {
    static const struct {
        const char *usuario, *senha, *user, *password;
        bool valid;
    } cases[] = {
        {"USER", "PASS", "USER", "PASS", true},   {"USER", "PASS", "user", "PASS", false},
        {"USER", "PASS", "USER", "pass", false},  {"USER", "PASS", "USER ", "PASS", false},
        {"USER", "PASS", "USER", "", false},      {"USER", "PASS", "", "", false},
        {"", "", "", "", false},                  {"", "", "USER", "", false},
        {"USER", "", "USER", "", false},          {"", "PASS", "", "PASS", false},
        {"JOSÉ", "SEÑA", "JOSÉ", "SEÑA", true},
    };
    for (const auto &t : cases) {
        Container k;
        k.settings.Usuario = t.usuario;
        k.settings.Senha = t.senha;
        std::vector<std::string> roles;
        EXPECT_EQ(k.c.DSAuthenticationManager1.authenticate("tcp/ip", "", t.user, t.password, roles), t.valid)
            << t.user << "/" << t.password;
        EXPECT_TRUE(roles.empty());
        EXPECT_TRUE(k.c.DSAuthenticationManager1.authorize({"TServerMethods1.print_texto", t.user, {}}));
    }
}

class ContainerPrinting : public ::testing::Test {
protected:
    void SetUp() override {
        k.settings.vimpressora = dir.file("out.prn");
        k.c.DSServer1.Start();
    }
    HttpReply call(const std::string &verb, const std::string &target, const std::string &body = {}) {
        HttpTestClient client(k.port());
        return client.request(httpRequest(verb, target, body));
    }
    TempDir dir;
    Container k;
};

// "Olá, açúcar\nlinha 2" as UTF-8, Base64, URL-encoded.
const std::string kPayload = "T2zDoSwgYcOnw7pjYXIKbGluaGEgMg%3D%3D";
const std::string kPrinted = "Ol\xE1, a\xE7\xFA" "car\r\nlinha 2\r\n";

TEST_F(ContainerPrinting, PrintTextoWithoutCredentialsPrintsIntoTheFile) {
    // a JS client encodes the payload once more for the path
    HttpReply r = call("GET", "/datasnap/rest/TServerMethods1/print_texto/x/y/T2zDoSwgYcOnw7pjYXIKbGluaGEgMg%253D%253D/");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, R"({"result":["Realizada com sucesso."]})");
    EXPECT_EQ(readFile(dir.file("out.prn")), kPrinted);
}

TEST_F(ContainerPrinting, UpdatePrintJsonInBothPostForms) {
    for (std::string method : {"print_json", "%22updateprint_json%22"}) {
        std::remove(dir.file("out.prn").c_str());
        HttpReply r = call("POST", "/datasnap/rest/TServerMethods1/" + method + "/USER/PASS/",
                           R"({"texto":")" + kPayload + R"("})");
        EXPECT_EQ(r.status, 200) << method;
        EXPECT_EQ(r.body, R"({"result":["Realizada com sucesso."]})") << method;
        EXPECT_EQ(readFile(dir.file("out.prn")), kPrinted) << method;
    }
    HttpReply missing = call("POST", "/datasnap/rest/TServerMethods1/print_json/USER/PASS/");
    EXPECT_EQ(missing.body, R"({"result":["Erro: Value nulo: esperado um objeto JSON com o texto codificado."]})");
}

TEST_F(ContainerPrinting, DeviceFailureIsAResultText) {
    k.settings.vimpressora = dir.file("no/such/folder/out.prn");
    HttpReply r = call("GET", "/datasnap/rest/TServerMethods1/print_texto/x/y/YWJj/");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.rfind(R"({"result":["Erro: Ao abrir dispositivo de impressao.\r)", 0), 0u) << r.body;
}

TEST_F(ContainerPrinting, APresentedSessionIsKept) {
    HttpTestClient a(k.port());
    HttpReply first = a.request(httpRequest("GET", "/datasnap/rest/TServerMethods1/print_texto/x/y/YWJj/"));
    std::string pragma = first.header("pragma");
    std::string id = pragma.substr(10, pragma.find(',') - 10);
    HttpReply again = a.request(httpRequest("GET", "/datasnap/rest/TServerMethods1/print_texto/x/y/YWJj/", "",
                                            "Pragma: dssession=" + id + "\r\n"));
    EXPECT_EQ(again.header("pragma"), pragma);
    EXPECT_EQ(readFile(dir.file("out.prn")), "abc\r\n");
}

} // namespace
