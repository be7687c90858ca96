#include <gtest/gtest.h>

#include <filesystem>

#include "../platform/db/firebird_test_db.h"
#include "ServerMethodsUnit1Database.h"
#include "UMySQL.h"
#include "executable_dir.h"
#include "settings_text.h"
#include "temp_dir.h"
#include "uScramble.h"

namespace {

using testutil::makeFirebirdDatabase;
using testutil::TempDir;

// The main window object's side of the link, recorded.
struct FakeHost {
    std::string Base;
    bool servico = false;
    std::optional<bool> Fiscal;
    std::vector<std::string> messages;
    std::shared_ptr<const TSettings> settings = [] {
        TSettings s;
        s.Usuario = "CAIXA";
        s.Senha = "SEGREDO";
        return std::make_shared<const TSettings>(s);
    }();

    TDatabaseHost host() {
        TDatabaseHost h;
        h.Settings = [this] { return settings; };
        h.Base = [this] { return Base; };
        h.servico = [this] { return servico; };
        h.SetFiscal = [this](bool f) { Fiscal = f; };
        h.ShowMessage = [this](const std::string &m) { messages.push_back(m); };
        return h;
    }
};

// Two real database files: one whose MDFE table has NUMERO, one without it.
class FirebirdLink : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        withField = makeFirebirdDatabase(*dir, "fiscal.fdb",
                                         "CREATE TABLE MDFE (ID INTEGER NOT NULL PRIMARY KEY, NUMERO INTEGER);\n"
                                         "CREATE TABLE OUTRA (SERIE INTEGER);");
        withoutField = makeFirebirdDatabase(*dir, "plain.fdb",
                                            "CREATE TABLE MDFE (ID INTEGER NOT NULL PRIMARY KEY, SERIE INTEGER);\n"
                                            "CREATE TABLE OUTRA (NUMERO INTEGER);");
    }
    static void TearDownTestSuite() { delete dir; }

    static TempDir *dir;
    static std::string withField, withoutField;
    FakeHost fake;
};
TempDir *FirebirdLink::dir = nullptr;
std::string FirebirdLink::withField, FirebirdLink::withoutField;

TEST_F(FirebirdLink, OpeningRunsTheHandlersAndSetsFiscal) {
    for (const auto &[path, expected] : {std::pair{withField, true}, std::pair{withoutField, false}}) {
        fake.Base = path;
        fake.Fiscal.reset();
        TServerMethods1Database module(fake.host());
        EXPECT_FALSE(module.FDConnection1.Connected()); // closed when created
        module.FDConnection1.Open();
        EXPECT_EQ(fake.Fiscal, expected) << path;
        EXPECT_EQ(module.FDConnection1.Params.Lines(),
                  (std::vector<std::string>{"Database=" + path, "User_Name=CAIXA", "password=SEGREDO", "DriverID=FB"}));
        // The client library came from the search, not from the loader's default.
        EXPECT_TRUE(db::IsFile(module.FDPhysFBDriverLink1.VendorLib)) << module.FDPhysFBDriverLink1.VendorLib;
        EXPECT_EQ(module.FDConnection1.LoadedLibrary(), module.FDPhysFBDriverLink1.VendorLib);
        EXPECT_TRUE(fake.messages.empty());
    }
}

TEST_F(FirebirdLink, FieldExistsMatchesFieldAndTableTogether) {
    fake.Base = withField;
    TServerMethods1Database module(fake.host());
    module.FDConnection1.Open();
    struct Case {
        const char *field, *table;
        bool exists;
    };
    const Case cases[] = {
        {"NUMERO", "MDFE", true},  {"numero", "mdfe", true},   {"ID", "MDFE", true},
        {"SERIE", "OUTRA", true},  {"NUMERO", "OUTRA", false}, {"SERIE", "MDFE", false},
        {"NUMERO", "NADA", false}, {"", "MDFE", false},        {"X' OR '1'='1", "MDFE", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(module.FieldExists(c.field, c.table), c.exists) << c.field << " in " << c.table;
    EXPECT_FALSE(module.FDQuery2.Active()); // closed after each test
    EXPECT_EQ(module.FDQuery2.SQL,
              (std::vector<std::string>{"SELECT COUNT(*) CT FROM RDB$RELATION_FIELDS where RDB$FIELD_NAME='X'' OR "
                                        "''1''=''1' AND RDB$RELATION_NAME='MDFE'"}));
}

TEST_F(FirebirdLink, CheckDatabaseLinkReportsConnectionAndFiscal) {
    fake.Base = withField;
    TDatabaseCheck ok = CheckDatabaseLink(fake.host());
    EXPECT_TRUE(ok.Connected) << ok.Error;
    EXPECT_TRUE(ok.Fiscal);
    EXPECT_EQ(fake.Fiscal, true);
    EXPECT_EQ(ok.Database, withField);
    const std::string text = FormatDatabaseCheck(ok);
    EXPECT_NE(text.find("Connected: yes\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Fiscal: True\n"), std::string::npos) << text;

    fake.Base = withoutField;
    TDatabaseCheck plain = CheckDatabaseLink(fake.host());
    EXPECT_TRUE(plain.Connected);
    EXPECT_FALSE(plain.Fiscal);
    EXPECT_EQ(fake.Fiscal, false);

    fake.Base = dir->file("missing.fdb");
    fake.Fiscal.reset();
    TDatabaseCheck missing = CheckDatabaseLink(fake.host());
    EXPECT_FALSE(missing.Connected);
    EXPECT_FALSE(missing.Fiscal);
    EXPECT_FALSE(fake.Fiscal.has_value());
    EXPECT_NE(missing.Error.find("missing.fdb"), std::string::npos) << missing.Error;
    EXPECT_NE(FormatDatabaseCheck(missing).find("Connected: no: "), std::string::npos);
}

TEST(DatabaseModule, EmptyBaseKeepsDesignTimeParameters) {
    FakeHost fake; // Base empty
    TServerMethods1Database module(fake.host());
    module.FDConnection1BeforeConnect();
    EXPECT_EQ(module.FDConnection1.Params.Lines(),
              (std::vector<std::string>{"Database=servidor:/dados/sistema.fdb", "User_Name=SYSDBA",
                                        "Password=masterkey", "DriverID=FB"}));
    EXPECT_FALSE(module.FDConnection1.LoginPrompt);
    EXPECT_EQ(module.FDConnection1.UpdateLockMode, db::LockMode::Pessimistic);
}

TEST(DatabaseModule, CreationPreparesMySQLWithoutConnecting) {
    TServerMethods1Database module;
    EXPECT_EQ(module.MyDatabase1.ConnectionName, "Sistema_my");
    EXPECT_EQ(module.MyDatabase1.Params.Lines(),
              (std::vector<std::string>{"Database=sistema", "USER NAME=corvane", "PASSWORD=Cv.Pr1nt#2026",
                                        "Server=servidor", "DriverID=MySQL"}));
    EXPECT_FALSE(module.MyDatabase1.LoginPrompt);
    EXPECT_EQ(module.MyDatabase1.UpdateLockMode, db::LockMode::Pessimistic);
    EXPECT_FALSE(module.MyDatabase1.Connected());
    EXPECT_TRUE(module.MyDatabase1.LoadedLibrary().empty()); // nothing was loaded
    // The MariaDB client of this machine (libmariadb3) was found.
    EXPECT_TRUE(db::IsFile(module.FDPhysMySQLDriverLink1.VendorLib)) << module.FDPhysMySQLDriverLink1.VendorLib;
    EXPECT_FALSE(module.FDConnection1.Connected());
    EXPECT_TRUE(module.FDPhysFBDriverLink1.VendorLib.empty()); // searched only when the connection opens
}

TEST(DatabaseModule, RecoverHandlersAlwaysRetry) {
    TServerMethods1Database module;
    EXPECT_EQ(module.FDConnection1Recover(db::ConnectionLostError("lost")), db::RecoverAction::Retry);
    EXPECT_EQ(module.MyDatabase1Recover(db::DbError("x")), db::RecoverAction::Retry);
    module.MyDatabase1AfterCommit(); // no transaction on a closed connection: nothing to do, nothing raised
    EXPECT_FALSE(module.MyDatabase1.Connected());
}

TEST(UMySQL, ConstantsUnscrambleThroughTheCodePage) {
    EXPECT_EQ(unscramble(ToAnsi(MySQLUserConstant())), "corvane");
    EXPECT_EQ(unscramble(ToAnsi(MySQLPasswordConstant())), "Cv.Pr1nt#2026");
    EXPECT_NE(unscramble(MySQLPasswordConstant()), "Cv.Pr1nt#2026"); // the conversion matters
}

} // namespace
