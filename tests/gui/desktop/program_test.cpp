#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "desktop_fixture.h"
#include "settings_fixture.h"
#include "temp_dir.h"

namespace {

using namespace desktop_test;
using testutil::TempDir;
using testutil::writeFile;

const std::string kTitle = "Corvane Datasnap Printer Server";

// The map state of the program's window as the X server sees it:
// "IsViewable", "IsUnMapped", or empty when there is no such window.
std::string mapState() {
    const std::string info = capture("xwininfo -name '" + kTitle + "' 2>/dev/null");
    const auto at = info.find("Map State: ");
    if (at == std::string::npos)
        return {};
    return info.substr(at + 11, info.find('\n', at) - at - 11);
}

// Connects to the activation socket as another process would; its answer.
std::string sendActivation(const std::string &path) {
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return "no connection";
    }
    timeval tv{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[16];
    const ssize_t n = read(s, buf, sizeof buf);
    close(s);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "no answer";
}

// The desktop program as a user starts it with "/a": it connects, goes to the
// tray, comes back when "D10EDA" is sent, and ends on the session's stop signal.
TEST(DesktopProgram, AutoStartActivationAndStop) {
    const TestDisplay &display = TestDisplay::instance();
    if (!display.x11)
        GTEST_SKIP() << "no X server (Xvfb is not installed)";

    TempDir dir;
    const std::filesystem::path program = dir.path() / "CorvaneDSPrinterDesktop";
    std::filesystem::copy_file(CORVANE_DESKTOP_PROGRAM, program);
    const std::string porta = std::to_string(testutil::freePortPair());
    const int tcpPort = std::stoi("1" + porta);
    testutil::writeTestSettings(dir.path().string(), porta, "CAIXA", "SEGREDO");
    writeFile(dir.file("SYS_INFO.INI"), "DATABASE_NAME=C:\\DADOS\\BASE.FDB\r\n");
    const std::filesystem::path runtime = dir.path() / "run";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string socketPath = (runtime / "D10EDA").string();

    Child app({program.string(), "/a"},
              {"XDG_RUNTIME_DIR=" + runtime.string(), "DISPLAY=" + display.name, "QT_QPA_PLATFORM=xcb"},
              dir.path().string());
    ASSERT_TRUE(waitFor([&] { return listening(tcpPort) || !app.running(); }, std::chrono::seconds(20)))
        << "the server did not start";
    ASSERT_TRUE(app.running());
    EXPECT_TRUE(listening(std::stoi(porta)));
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(socketPath); }));

    // With a tray the window leaves the screen half a second after showing;
    // without one it stays, minimised (and says so).
    // The window's map state needs xwininfo (x11-utils).
    const bool xwininfo = std::system("command -v xwininfo >/dev/null 2>&1") == 0;
    const bool tray = display.trayHost && xwininfo;
    if (tray) {
        // The socket appears during the first showing, before the window is
        // mapped; Timer1 hides it half a second after that showing.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_TRUE(waitFor([] { return mapState() == "IsUnMapped"; })) << mapState();
    }

    EXPECT_EQ(sendActivation(socketPath), "0");
    if (xwininfo) {
        EXPECT_TRUE(waitFor([] { return mapState() == "IsViewable"; })) << mapState();
        // It stays: bringing it back is no new showing that would start Timer1 again.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        EXPECT_EQ(mapState(), "IsViewable");
    }
    if (std::system("command -v import >/dev/null 2>&1") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let it paint
        const std::string shot = screenshotDir() + "/desktop-program-connected.png";
        EXPECT_EQ(std::system(("import -display " + display.name + " -window root '" + shot + "'").c_str()), 0);
    }

    EXPECT_EQ(app.terminate(), 0);
    EXPECT_FALSE(listening(tcpPort));
    EXPECT_FALSE(std::filesystem::exists(socketPath)); // a normal end leaves nothing behind
}

} // namespace
