#include <gtest/gtest.h>

#include "firebird_connection.h"
#include "firebird_test_db.h"

namespace {

using testutil::makeFirebirdDatabase;
using testutil::TempDir;

class FirebirdConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = makeFirebirdDatabase(dir, "test.fdb",
                                    "CREATE TABLE MDFE (ID INTEGER NOT NULL PRIMARY KEY, NUMERO INTEGER,"
                                    " CHAVE VARCHAR(44), VALOR NUMERIC(15,2), FIXO CHAR(3));\n"
                                    "INSERT INTO MDFE VALUES (1, 10, 'ch\xC3\xA1ve', -12.05, 'ab');\n"
                                    "INSERT INTO MDFE (ID) VALUES (2);");
        connection.Params = {"Database=" + path, "User_Name=SYSDBA", "Password=x"};
    }
    TempDir dir;
    std::string path;
    db::DriverLink link;
    db::FirebirdConnection connection{link};
};

TEST_F(FirebirdConnectionTest, QueriesReturnTypedText) {
    int before = 0, after = 0;
    connection.BeforeConnect = [&] { ++before; };
    connection.AfterConnect = [&] { ++after; };
    connection.Open();
    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(connection.LoadedLibrary(), "libfbclient.so.2"); // the default, VendorLib being empty
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);

    auto rows = connection.Execute("SELECT ID, NUMERO, CHAVE, VALOR, FIXO FROM MDFE ORDER BY ID");
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].size(), 5u);
    EXPECT_EQ(rows[0][0].Name, "ID");
    EXPECT_EQ(rows[0][0].AsInteger(), 1);
    EXPECT_EQ(*rows[0][2].Text, "ch\xC3\xA1ve");
    EXPECT_EQ(*rows[0][3].Text, "-12.05");
    EXPECT_EQ(*rows[0][4].Text, "ab"); // CHAR padding dropped
    EXPECT_TRUE(rows[1][1].IsNull());
    EXPECT_THROW(rows[1][1].AsInteger(), db::DbError);

    db::Query q(connection);
    q.SQL = {"SELECT COUNT(*) CT FROM RDB$RELATION_FIELDS",
             "WHERE RDB$FIELD_NAME='NUMERO' AND RDB$RELATION_NAME='MDFE'"};
    q.Open();
    EXPECT_EQ(q.FieldByName("ct").AsInteger(), 1);
    EXPECT_THROW(q.FieldByName("NONE"), db::DbError);
    q.Close();
    EXPECT_THROW(q.FieldByName("CT"), db::DbError);
}

TEST_F(FirebirdConnectionTest, TransactionsCommitAndRollBack) {
    int commits = 0;
    connection.AfterCommit = [&] { ++commits; };
    connection.Open();
    EXPECT_FALSE(connection.InTransaction());
    connection.StartTransaction();
    EXPECT_TRUE(connection.InTransaction());
    connection.Execute("INSERT INTO MDFE (ID, NUMERO) VALUES (3, 30)");
    connection.Commit();
    EXPECT_EQ(commits, 1);
    EXPECT_FALSE(connection.InTransaction());

    connection.StartTransaction();
    connection.Execute("DELETE FROM MDFE");
    connection.Rollback();
    EXPECT_EQ(commits, 1);

    // A fresh connection sees the committed row and not the rolled back delete.
    connection.Close();
    EXPECT_FALSE(connection.Connected());
    connection.Open();
    auto rows = connection.Execute("SELECT COUNT(*) FROM MDFE");
    EXPECT_EQ(rows.at(0).at(0).AsInteger(), 3);
    EXPECT_THROW(connection.Commit(), db::DbError); // nothing to commit
}

TEST_F(FirebirdConnectionTest, FailuresCarryTheClientsMessages) {
    connection.Open();
    try {
        connection.Execute("SELEC 1 FROM RDB$DATABASE");
        FAIL();
    } catch (const db::DbError &e) {
        EXPECT_NE(std::string(e.what()).find("Token unknown"), std::string::npos) << e.what();
        EXPECT_EQ(e.code(), -104);
    }
    // The connection stays usable after a failed statement.
    EXPECT_EQ(connection.Execute("SELECT 1 FROM RDB$DATABASE").size(), 1u);

    db::DriverLink link2;
    db::FirebirdConnection missing(link2);
    missing.Params = {"Database=" + dir.file("missing.fdb")};
    try {
        missing.Open();
        FAIL();
    } catch (const db::DbError &e) {
        EXPECT_NE(std::string(e.what()).find("I/O error"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(missing.Connected());

    db::DriverLink bad{dir.file("test.fdb")}; // not a library
    db::FirebirdConnection wrongLibrary(bad);
    wrongLibrary.Params = connection.Params;
    EXPECT_THROW(wrongLibrary.Open(), db::DbError);
    EXPECT_FALSE(wrongLibrary.Connected());
}

TEST_F(FirebirdConnectionTest, AfterConnectFailureLeavesConnectionClosed) {
    connection.AfterConnect = [&] { connection.Execute("SELECT * FROM NO_SUCH_TABLE"); };
    EXPECT_THROW(connection.Open(), db::DbError);
    EXPECT_FALSE(connection.Connected());
}

} // namespace
