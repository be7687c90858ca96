#include <gtest/gtest.h>

#include <filesystem>

#include "ServerMethodsUnit1Database.h"
#include "executable_dir.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testutil::TempDir;

// A tree that stands for the machine: the current directory, the executable's
// folder, two system library folders and a Firebird install folder.
class ClientSearch : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *d : {"cwd", "app", "sys1", "sys2", "opt"})
            fs::create_directories(tree.path() / d);
        before = os::currentDir();
        os::changeDir(tree.file("cwd"));
    }
    void TearDown() override { os::changeDir(before); }

    db::ClientSearchFolders folders() const {
        return {tree.file("app") + "/", {tree.file("sys1"), tree.file("sys2")}, {tree.file("opt")}};
    }
    void touch(const std::string &rel) { testutil::writeFile(tree.file(rel), "lib"); }

    TempDir tree;
    std::string before;
};

struct SearchCase {
    std::vector<std::string> files; // relative to the tree
    std::string firebird;           // expected VendorLib, relative to the tree ("" none)
    std::string mysql;
};

TEST_F(ClientSearch, FirstExistingCandidateWins) {
    const SearchCase cases[] = {
        {{}, "", ""},
        {{"cwd/libfbclient.so.2", "app/libfbclient.so.2", "cwd/libmariadb.so.3", "app/libmariadb.so.3"},
         "cwd/libfbclient.so.2",
         "cwd/libmariadb.so.3"},
        {{"app/libfbclient.so", "sys1/libfbclient.so.2", "app/libmysqlclient.so", "sys1/libmariadb.so.3"},
         "app/libfbclient.so",
         "app/libmysqlclient.so"},
        {{"sys2/libfbclient.so.2", "sys1/libgds.so", "opt/libfbclient.so.2", "sys2/libmysqlclient.so.21"},
         "sys1/libgds.so",
         "sys2/libmysqlclient.so.21"},
        {{"sys1/libgds.so.0", "sys1/libfbclient.so"}, "sys1/libfbclient.so", ""},
        {{"opt/libfbclient.so.2", "opt/libmariadb.so.3"}, "opt/libfbclient.so.2", ""},
        // gds names and install folders count for Firebird only from their own places.
        {{"cwd/libgds.so", "app/libgds.so", "opt/libgds.so"}, "", ""},
        // Names from the other client do not count.
        {{"sys1/libmariadb.so.3", "cwd/libfbclient.so.2"}, "cwd/libfbclient.so.2", "sys1/libmariadb.so.3"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.firebird + " / " + c.mysql);
        for (const char *d : {"cwd", "app", "sys1", "sys2", "opt"})
            for (const auto &f : fs::directory_iterator(tree.path() / d))
                fs::remove(f.path());
        for (const auto &f : c.files)
            touch(f);

        std::vector<std::string> messages;
        TDatabaseHost host;
        host.ShowMessage = [&](const std::string &m) { messages.push_back(m); };
        TServerMethods1Database module(host, folders());
        EXPECT_EQ(module.FDPhysMySQLDriverLink1.VendorLib, c.mysql.empty() ? "" : tree.file(c.mysql));

        module.FDPhysFBDriverLink1.VendorLib = "stale";
        module.LocateFirebirdClient();
        EXPECT_EQ(module.FDPhysFBDriverLink1.VendorLib, c.firebird.empty() ? "" : tree.file(c.firebird));
        if (c.firebird.empty())
            EXPECT_EQ(messages, std::vector<std::string>{"Arquivo do Firebird fbclient.dll não encontrado."});
        else
            EXPECT_TRUE(messages.empty());
    }
}

TEST_F(ClientSearch, FoldersAndLinksAreTestedAsFiles) {
    fs::create_directories(tree.path() / "cwd" / "libfbclient.so.2");                  // a folder is not a library
    fs::create_symlink(tree.file("sys2/real.so"), tree.file("sys1/libfbclient.so.2")); // dangling for now
    TServerMethods1Database module({}, folders());
    module.LocateFirebirdClient();
    EXPECT_EQ(module.FDPhysFBDriverLink1.VendorLib, "");
    touch("sys2/real.so");
    module.LocateFirebirdClient();
    EXPECT_EQ(module.FDPhysFBDriverLink1.VendorLib, tree.file("sys1/libfbclient.so.2"));
}

TEST_F(ClientSearch, NoMessageInServiceModeAndMySQLSearchIsSilent) {
    std::vector<std::string> messages;
    TDatabaseHost host;
    host.servico = [] { return true; };
    host.ShowMessage = [&](const std::string &m) { messages.push_back(m); };
    TServerMethods1Database module(host, folders());
    module.FDPhysMySQLDriverLink1.VendorLib = "stale";
    module.LocateMySQLClient(module.FDPhysMySQLDriverLink1);
    EXPECT_EQ(module.FDPhysMySQLDriverLink1.VendorLib, "");
    module.LocateFirebirdClient();
    EXPECT_EQ(module.FDPhysFBDriverLink1.VendorLib, "");
    EXPECT_TRUE(messages.empty());
}

TEST_F(ClientSearch, OpeningWithoutAnyClientFailsCleanly) {
    // Nothing in the tree: after the message the connection falls back to the
    // loader's default name, which this machine has, and the attempt fails on
    // the missing database file with the client's own error.
    std::vector<std::string> messages;
    TDatabaseHost host;
    host.Base = [&] { return tree.file("cwd/none.fdb"); };
    host.ShowMessage = [&](const std::string &m) { messages.push_back(m); };
    TServerMethods1Database module(host, folders());
    try {
        module.FDConnection1.Open();
        FAIL();
    } catch (const db::DbError &e) {
        EXPECT_NE(std::string(e.what()).find("none.fdb"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(module.FDConnection1.Connected());
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(module.FDConnection1.LoadedLibrary(), "");
}

} // namespace
