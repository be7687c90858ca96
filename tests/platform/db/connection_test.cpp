#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "client_library.h"
#include "client_search.h"
#include "db_connection.h"
#include "mysql_connection.h"
#include "temp_dir.h"

namespace {

TEST(ParamList, ValuesByNameIgnoringAsciiCase) {
    db::ParamList p{"Database=a=b", "User_Name=ana", "USER NAME=bia", "password=x", "DriverID=FB"};
    EXPECT_EQ(p.Value("database"), "a=b");
    EXPECT_EQ(p.Value("User_Name"), "ana"); // "USER NAME" is another parameter
    EXPECT_EQ(p.Value("Password"), "x");
    EXPECT_EQ(p.Value("Server"), "");
    p[1] = "User_Name=carla";
    EXPECT_EQ(p.Value("USER_NAME"), "carla");
    EXPECT_THROW(p[5], std::out_of_range);
}

// A connection whose operations fail as a lost connection a given number of
// times, to follow the recovery rules.
class FlakyConnection : public db::Connection {
public:
    explicit FlakyConnection(db::DriverLink &link) : Connection(link) {}
    int failures = 0, connects = 0, executes = 0;
    bool connected = false, inTransaction = false;

protected:
    void DoConnect(const std::string &) override {
        connected = true;
        ++connects;
    }
    void DoDisconnect() override { connected = inTransaction = false; }
    bool DoConnected() const override { return connected; }
    void DoStartTransaction() override { inTransaction = true; }
    void DoCommit() override { inTransaction = false; }
    void DoRollback() override { inTransaction = false; }
    bool DoInTransaction() const override { return inTransaction; }
    std::vector<db::Row> DoExecute(const std::string &) override {
        ++executes;
        if (failures > 0) {
            --failures;
            throw db::ConnectionLostError("connection lost");
        }
        return {db::Row{db::FieldValue{"X", "1"}}};
    }
    std::string DefaultLibrary() const override { return "none"; }
};

TEST(ConnectionRecovery, RetryReconnectsAndRunsAgain) {
    db::DriverLink link;
    FlakyConnection c(link);
    int asked = 0;
    c.OnRecover = [&](const db::DbError &) {
        ++asked;
        return db::RecoverAction::Retry;
    };
    c.Open();
    c.failures = 2;
    EXPECT_EQ(c.Execute("x").size(), 1u);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(c.connects, 3);

    // A connection that stays lost is given up after a few attempts.
    c.failures = 100;
    EXPECT_THROW(c.Execute("x"), db::ConnectionLostError);
    EXPECT_EQ(asked, 2 + db::Connection::kMaxRetries);
}

TEST(ConnectionRecovery, NoRetryWhenRefusedOrInsideTransaction) {
    db::DriverLink link;
    FlakyConnection c(link);
    c.OnRecover = [](const db::DbError &) { return db::RecoverAction::Fail; };
    c.Open();
    c.failures = 1;
    EXPECT_THROW(c.Execute("x"), db::ConnectionLostError);
    EXPECT_EQ(c.connects, 1);

    c.OnRecover = [](const db::DbError &) { return db::RecoverAction::Retry; };
    c.StartTransaction();
    c.failures = 1;
    EXPECT_THROW(c.Execute("x"), db::ConnectionLostError); // the transaction is gone with the connection
    EXPECT_EQ(c.connects, 1);
    EXPECT_THROW(FlakyConnection(link).Execute("x"), db::DbError); // closed
}

// A loopback port with nobody listening: bound, never listened on.
struct ClosedPort {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    ClosedPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~ClosedPort() { close(fd); }
};

TEST(MySqlConnection, LoadsTheClientAndReportsItsError) {
    ClosedPort port;
    db::DriverLink link; // empty: the system's libmariadb
    db::MySqlConnection c(link);
    c.Params = {"Database=sistema", "User_Name=u", "Password=p", "Server=127.0.0.1",
                "Port=" + std::to_string(port.port)};
    try {
        c.Open();
        FAIL() << "connected to a closed port";
    } catch (const db::DbError &e) {
        EXPECT_EQ(e.code(), 2002) << e.what(); // can't connect
    }
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.InTransaction());

    c.Params = {"Server=127.0.0.1", "Port=70000"};
    EXPECT_THROW(c.Open(), db::DbError);
    EXPECT_FALSE(c.Connected());
}

TEST(ClientLibrary, LoadFailuresAreDbErrors) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("libfake.so"), "not a library");
    EXPECT_THROW(db::ClientLibrary::Load(dir.file("libfake.so")), db::DbError);
    EXPECT_THROW(db::ClientLibrary::Load(dir.file("missing.so")), db::DbError);
    auto &lib = db::ClientLibrary::Load("libfbclient.so.2");
    EXPECT_EQ(&lib, &db::ClientLibrary::Load("libfbclient.so.2")); // loaded once
    EXPECT_NE(lib.Symbol("isc_attach_database"), nullptr);
    EXPECT_THROW(lib.Symbol("no_such_symbol"), db::DbError);
}

TEST(ClientSearch, SystemFoldersHoldTheCLibrary) {
    auto dirs = db::SystemLibraryDirs();
    ASSERT_FALSE(dirs.empty());
    bool found = false;
    for (const auto &d : dirs)
        found = found || db::IsFile(db::JoinPath(d, "libc.so.6"));
    EXPECT_TRUE(found);
    EXPECT_EQ(db::JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(db::JoinPath("/a", "b"), "/a/b");
    EXPECT_FALSE(db::IsFile(dirs.front())); // a folder is no file
}

} // namespace
