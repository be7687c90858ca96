#include <gtest/gtest.h>

#include "dbx_errors.h"
#include "dbx_fixture.h"
#include "dbx_server_connection.h"

using namespace datasnap;

namespace {

// The message layer of one connection without sockets: requests in, the
// exact bytes of each write out.
class DbxConnectionTest : public ::testing::Test {
protected:
    DbxConnectionTest() : cls_(dbxtest::echoClass()), entry_(server_) {
        server_.AutoStart = false;
        entry_.OnGetClass = [this](ServerClass &, const ClassInfo *&c) { c = &cls_; };
        auth_.OnUserAuthenticate = [](AuthenticationManager &, const std::string &, const std::string &,
                                      const std::string &user, const std::string &password, bool &valid,
                                      std::vector<std::string> &) { valid = user == "USER" && password == "PASS"; };
        dbxtest::EchoMethods::created = 0;
        session_ = std::make_shared<Session>("1.2.3", "tcp");
        conn_ = std::make_unique<DbxServerConnection>(server_, &auth_, session_);
    }

    std::vector<std::string> send(std::string_view bytes) {
        std::vector<std::string> writes;
        conn_->receive(bytes, writes);
        return writes;
    }
    std::string one(std::string_view bytes) {
        auto w = send(bytes);
        EXPECT_EQ(w.size(), 1u) << bytes;
        return w.empty() ? std::string() : w[0];
    }
    void connect() {
        ASSERT_EQ(one(R"({"method":"connect","params":[{"DSAuthenticationUser":"USER","DSAuthenticationPassword":"PASS"}]})"),
                  R"({"result":[0,"DataSnap",2]})");
    }
    static std::string execute(int handle, std::string_view row) {
        return "{\"method\":\"execute\",\"params\":[{\"handle\":[" + std::to_string(handle) + "]},{\"data\":[" +
               std::to_string(row.size()) + "," + std::string(row) + "]}]}";
    }

    ClassInfo cls_;
    Server server_;
    ServerClass entry_;
    AuthenticationManager auth_;
    std::shared_ptr<Session> session_;
    std::unique_ptr<DbxServerConnection> conn_;
};

constexpr char kPreparePrint[] =
    R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TServerMethods1.print_texto"]})";

} // namespace

TEST_F(DbxConnectionTest, PrepareAndExecuteReplyBytes) {
    connect();
    EXPECT_EQ(one(kPreparePrint),
              R"({"result":[{"handle":[0]},{"fields":[0,false]},{"parameters":[4,[26,0,1,0,0,"Usuario",0,0,0],)"
              R"([26,0,1,0,0,"senha",0,0,0],[26,0,1,0,0,"Value",0,0,0],[26,0,4,0,0,"ReturnParameter",0,0,0]]}]})");
    EXPECT_EQ(one(R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","tserverMETHODS1.UPDATEPRINT_JSON"]})"),
              R"({"result":[{"handle":[1]},{"fields":[0,false]},{"parameters":[4,[26,0,1,0,0,"Usuario",0,0,0],)"
              R"([26,0,1,0,0,"senha",0,0,0],[37,0,1,0,0,"Value",0,0,0],[26,0,4,0,0,"ReturnParameter",0,0,0]]}]})");

    std::string row = std::string("\x21U\x21P\x25Hello\xC0", 11);
    std::string answer = "1|U|P|Hello";
    std::string expected = "{\"result\":[{\"rows\":[0]},{\"data\":[15,\xC0\xC0\xC0\x2B" + answer + "]}]}";
    EXPECT_EQ(one(execute(0, row)), expected);
    // A second call on the same handle needs no new prepare; a row without the return slot is accepted.
    EXPECT_EQ(one(execute(0, row.substr(0, 10))), expected);

    std::string jsonRow = std::string("\x21U\x21P", 4);
    appendJsonField(jsonRow, R"({"texto":"a\/b"})");
    std::string jsonAnswer = R"(1|{"texto":"a\/b"})";
    EXPECT_EQ(one(execute(1, jsonRow + "\xC0")),
              "{\"result\":[{\"rows\":[0]},{\"data\":[22,\xC0\xC0\xC0\x32" + jsonAnswer + "]}]}");
}

TEST_F(DbxConnectionTest, ErrorRepliesKeepThePlatformShape) {
    connect();
    EXPECT_EQ(one(kPreparePrint).substr(0, 24), R"({"result":[{"handle":[0])");
    EXPECT_EQ(one(R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TServerMethods1.nada"]})"),
              R"({"error":{"name":"TDBXError","code":105,"message":"Remote error: TServerMethods1.nada method not )"
              R"(found in the server method list"})");
    // The failed prepare used up handle 1.
    EXPECT_EQ(one(kPreparePrint).substr(0, 24), R"({"result":[{"handle":[2])");
    EXPECT_TRUE(send(R"({"method":"command_close","params":[0]})").empty());
    EXPECT_EQ(one(execute(0, "\xC0")),
              R"({"error":{"name":"TDBXError","code":29,"message":"Remote error: Invalid command handle:  0"})");
    // An exception of the method itself.
    std::string failRow = std::string("\x21U\x21P\x24" "fail\xC0", 9);
    EXPECT_EQ(one(execute(2, failRow)),
              R"({"error":{"name":"Exception","code":5,"message":"Remote error: Invalid filename"})");
    EXPECT_EQ(one(R"({"method":"vendor_property","params":["DriverVersion"]})"), R"({"result":[""]})");
    EXPECT_EQ(one(R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","DSAdmin.GetPlatformName"]})")
                  .substr(0, 24),
              R"({"result":[{"handle":[3])");
    EXPECT_EQ(one(R"({"method":"execute","params":[{"handle":[3]}]})").substr(0, 36),
              "{\"result\":[{\"rows\":[0]},{\"data\":[6,\x25");
}

TEST_F(DbxConnectionTest, RefusedClientGetsTheAuthenticationErrorAndNoMore) {
    EXPECT_EQ(one(R"({"method":"connect","params":[{"DSAuthenticationUser":"user","DSAuthenticationPassword":"PASS"}]})"),
              R"({"error":{"name":"TDBXError","code":0,"message":"Remote error: Authentication manager rejected )"
              R"(user credentials. This may due to invalid combination of DS user name and password"})");
    EXPECT_FALSE(conn_->finished());
    EXPECT_TRUE(send(kPreparePrint).empty());
    EXPECT_TRUE(conn_->finished());
    EXPECT_EQ(dbxtest::EchoMethods::alive.load(), 0);
}

TEST_F(DbxConnectionTest, RequestsBeforeConnectEndTheConnection) {
    EXPECT_TRUE(send(kPreparePrint).empty());
    EXPECT_TRUE(conn_->finished());
}

TEST_F(DbxConnectionTest, PullsTruncatedInputsChunkByChunk) {
    connect();
    one(kPreparePrint);
    std::string value(10000, 'v');
    value[9999] = 'Z';
    std::string row = std::string("\x21U\x21P", 4) + std::string("\x50\x00\x64", 3) + value.substr(0, 100) + "\xC0";
    EXPECT_EQ(one(execute(0, row)), R"({"more_blob":[-1,1,0,2,0]})");
    EXPECT_EQ(one("{\"data\":[4900     ," + value.substr(100, 4900) + "]}"), R"({"more_blob":[-1,1,0,2,0]})");
    std::string reply = one("{\"data\":[-5000    ," + value.substr(5000) + "]}");
    EXPECT_NE(reply.find("1|U|P|" + value), std::string::npos) << reply.substr(0, 200);
    EXPECT_EQ(reply.substr(0, 35), std::string("{\"result\":[{\"rows\":[0]},{\"data\":[") + "10" );
}

TEST_F(DbxConnectionTest, LongResultsAreTruncatedAndServedOnThePull) {
    connect();
    one(kPreparePrint);
    std::string value(40000, 'r');
    std::string row = std::string("\x21U\x21P", 4) + "\x50" + std::string(1, '\x00') + "\x00" + "\xC0";
    row = std::string("\x21U\x21P", 4);
    row += std::string("\x50\x00\x00", 3);
    row += "\xC0";
    one(execute(0, row));  // asks for the whole value
    std::string reply = one("{\"data\":[-40000   ," + value + "]}");
    std::string answer = "1|U|P|" + value;
    // 30,717 bytes inline under 0x50 77 FD.
    std::string head = "{\"result\":[{\"rows\":[0]},{\"data\":[30723,\xC0\xC0\xC0\x50\x77\xFD";
    EXPECT_EQ(reply.substr(0, head.size()), head);
    auto writes = send(R"({"method":"more_blob","params":[0,1,0,3,true,0]})");
    ASSERT_EQ(writes.size(), 2u);
    std::string rest = answer.substr(30717);
    EXPECT_EQ(writes[0], "{\"result\":[{\"data\":[-" + std::to_string(rest.size()) + "    ," + rest + "]}");
    EXPECT_EQ(writes[1], "]}");
}

TEST_F(DbxConnectionTest, LimitsCloseTheConnection) {
    conn_ = std::make_unique<DbxServerConnection>(server_, &auth_, session_, DbxLimits{4096, 8192, 2});
    connect();
    one(kPreparePrint);
    one(kPreparePrint);
    EXPECT_THROW(send(kPreparePrint), ProtocolError);

    conn_ = std::make_unique<DbxServerConnection>(server_, &auth_, session_, DbxLimits{4096, 8192, 2});
    connect();
    one(kPreparePrint);
    std::string row = std::string("\x21U\x21P\x50\x00\x00\xC0", 8);
    one(execute(0, row));
    EXPECT_EQ(one("{\"data\":[4000," + std::string(4000, 'a') + "]}"), R"({"more_blob":[-1,1,0,2,0]})");
    EXPECT_EQ(one("{\"data\":[4000," + std::string(4000, 'a') + "]}"), R"({"more_blob":[-1,1,0,2,0]})");
    EXPECT_THROW(send("{\"data\":[4000," + std::string(4000, 'a') + "]}"), ProtocolError);
}
