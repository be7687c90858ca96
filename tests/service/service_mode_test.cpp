#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "service_process.h"
#include "settings_fixture.h"

using testutil::ServiceProcess;

namespace {

// servidor.cfg beside the program: receipts into a file, the given port.
void writeSettings(const ServiceProcess &p, int port) {
    testutil::writeTestSettings(p.folder(), std::to_string(port), "CAIXA", "SENHA", p.dir().file("receipt.txt"),
                                "EPSON");
}

void writeSysInfo(const ServiceProcess &p) {
    testutil::writeFile(p.folder() + "/SYS_INFO.INI", "BASE_DE_DADOS=/dados/loja.fdb\r\n");
}

std::string errorFile(const ServiceProcess &p, int step) {
    const std::string path = p.dir().file("err/teste" + std::to_string(step) + "_err.txt");
    return std::filesystem::exists(path) ? testutil::readFile(path) : std::string("<none>");
}

} // namespace

// Everything in place: ready, both listeners up, no error file; SIGTERM ends it
// with both listeners closed.
TEST(ServiceMode, StartsServesAndStopsOnSigterm) {
    ServiceProcess p;
    const int port = testutil::freePortPair();
    writeSettings(p, port);
    writeSysInfo(p);
    p.listenForNotify();
    p.start({});
    ASSERT_EQ(p.nextNotify(), "READY=1") << p.err();
    EXPECT_TRUE(testutil::acceptsConnections(port));
    EXPECT_TRUE(testutil::acceptsConnections(std::stoi("1" + std::to_string(port))));
    for (int step = 1; step <= 4; ++step)
        EXPECT_EQ(errorFile(p, step), "<none>") << step;
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
    EXPECT_FALSE(testutil::acceptsConnections(port));
    EXPECT_FALSE(testutil::acceptsConnections(std::stoi("1" + std::to_string(port))));
}

// A missing SYS_INFO.INI is written to the third file; the server still starts.
TEST(ServiceMode, MissingDatabaseLocationGoesToItsErrorFile) {
    ServiceProcess p;
    const int port = testutil::freePortPair();
    writeSettings(p, port);
    p.listenForNotify();
    p.start({});
    ASSERT_EQ(p.nextNotify(), "READY=1") << p.err();
    const std::string err3 = errorFile(p, 3);
    ASSERT_NE(err3, "<none>");
    ASSERT_GE(err3.size(), 3u);
    EXPECT_EQ(err3.substr(err3.size() - 2), "\r\n");
    EXPECT_EQ(err3.find('\n'), err3.size() - 1) << "one line only";
    EXPECT_EQ(errorFile(p, 2), "<none>");
    EXPECT_EQ(errorFile(p, 4), "<none>");
    EXPECT_TRUE(testutil::acceptsConnections(port));
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
}

// Ports already taken: the listener's error goes to the fourth file and the
// service still reports ready; an old error file of a step that now succeeds
// is left as it was.
TEST(ServiceMode, BusyPortGoesToTheFourthFile) {
    ServiceProcess p;
    const int port = testutil::freePortPair();
    writeSettings(p, port);
    writeSysInfo(p);
    std::filesystem::create_directories(p.dir().file("err"));
    std::filesystem::permissions(p.dir().file("err"), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testutil::writeFile(p.dir().file("err/teste2_err.txt"), "old\r\n");

    ServiceProcess holder; // a first server holding the ports
    writeSettings(holder, port);
    writeSysInfo(holder);
    holder.listenForNotify();
    holder.start({});
    ASSERT_EQ(holder.nextNotify(), "READY=1");

    p.listenForNotify();
    p.start({});
    ASSERT_EQ(p.nextNotify(), "READY=1") << p.err();
    const std::string err4 = errorFile(p, 4);
    EXPECT_NE(err4, "<none>");
    EXPECT_EQ(errorFile(p, 2), "old\r\n");
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
    holder.signal(SIGTERM);
    EXPECT_EQ(holder.wait(), 0);
}

// An error file that cannot be written ends the start: logged, not ready,
// non-zero exit, the later steps not run.
TEST(ServiceMode, UnwritableErrorFolderEndsTheStart) {
    ServiceProcess p;
    const int port = testutil::freePortPair();
    // servidor.cfg missing: step 2 fails and must write its file.
    writeSysInfo(p);
    testutil::writeFile(p.dir().file("not-a-folder"), "x");
    p.env()["CORVANE_ERROR_DIR"] = p.dir().file("not-a-folder/err");
    p.listenForNotify();
    p.start({"/FOREGROUND"});
    EXPECT_EQ(p.wait(), 1);
    EXPECT_EQ(p.nextNotify(std::chrono::milliseconds(100)), "");
    EXPECT_NE(p.err().find("Service start failed"), std::string::npos) << p.err();
    EXPECT_FALSE(testutil::acceptsConnections(port));
}

// A symbolic link in place of the error folder is refused, never followed.
TEST(ServiceMode, ErrorFolderLinkIsNotFollowed) {
    ServiceProcess p;
    writeSysInfo(p);
    std::filesystem::create_directories(p.dir().file("elsewhere"));
    std::filesystem::create_directory_symlink(p.dir().file("elsewhere"), p.dir().file("err"));
    p.listenForNotify();
    p.start({});
    EXPECT_EQ(p.wait(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(p.dir().file("elsewhere")));
}

// Started from a terminal without switches: one error with a hint, non-zero exit.
TEST(ServiceMode, NotStartedBySystemdFailsWithAHint) {
    ServiceProcess p;
    writeSysInfo(p);
    p.start({});
    EXPECT_EQ(p.wait(), 1);
    EXPECT_NE(p.err().find("/FOREGROUND"), std::string::npos) << p.err();
    EXPECT_NE(p.err().find("/INSTALL"), std::string::npos);
}
