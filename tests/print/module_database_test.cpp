#include <gtest/gtest.h>

#include <thread>

#include "ServerMethodsUnit1.h"

namespace {

// Each client session gets its own module; two created at once on two
// threads each prepare their own MySQL connection, and neither opens it.
TEST(ServerMethodsDatabase, TwoSessionsPrepareTheirOwnConnections) {
    auto settings = std::make_shared<const TSettings>();
    auto source = [settings] { return settings; };
    auto imprime = [](const std::string &, std::string &) { return true; };

    std::unique_ptr<TServerMethods1> a, b;
    std::thread ta([&] { a = std::make_unique<TServerMethods1>(source, imprime); });
    std::thread tb([&] { b = std::make_unique<TServerMethods1>(source, imprime); });
    ta.join();
    tb.join();

    for (TServerMethods1 *m : {a.get(), b.get()}) {
        EXPECT_EQ(m->MyDatabase1.Params[1], "USER NAME=corvane");
        EXPECT_EQ(m->MyDatabase1.Params[2], "PASSWORD=Cv.Pr1nt#2026");
        EXPECT_FALSE(m->MyDatabase1.Connected());
        EXPECT_TRUE(m->MyDatabase1.LoadedLibrary().empty());
        EXPECT_FALSE(m->FDConnection1.Connected());
    }
    EXPECT_NE(&a->MyDatabase1, &b->MyDatabase1);
    EXPECT_EQ(a->FDPhysMySQLDriverLink1.VendorLib, b->FDPhysMySQLDriverLink1.VendorLib);

    // Changing one session's parameters leaves the other's alone.
    a->MyDatabase1.Params[0] = "Database=outra";
    EXPECT_EQ(b->MyDatabase1.Params[0], "Database=sistema");
}

// The module's Firebird account comes from the settings it prints with, unless
// the caller hands it other ones.
TEST(ServerMethodsDatabase, FirebirdAccountFollowsTheSettingsSource) {
    TSettings s;
    s.Usuario = "CAIXA";
    s.Senha = "SEGREDO";
    auto settings = std::make_shared<const TSettings>(s);
    TDatabaseHost host;
    host.Base = [] { return std::string("/dados/loja.fdb"); };
    TServerMethods1 m([settings] { return settings; }, [](const std::string &, std::string &) { return true; }, host);
    m.FDConnection1BeforeConnect();
    EXPECT_EQ(m.FDConnection1.Params.Lines(), (std::vector<std::string>{"Database=/dados/loja.fdb", "User_Name=CAIXA",
                                                                        "password=SEGREDO", "DriverID=FB"}));
}

} // namespace
