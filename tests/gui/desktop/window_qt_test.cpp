#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLocalSocket>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ServerContainerUnit1.h"
#include "desktop_fixture.h"
#include "local_address.h"
#include "settings_fixture.h"
#include "servidor_cfg.h"
#include "temp_dir.h"
#include "uServerPrincipalWindow.h"

namespace {

using namespace desktop_test;
using C = FormPrincipalControl;
using testutil::TempDir;

// One application for the executable: on the test display (Xvfb started here
// when there is none) or offscreen, with a private runtime folder for the
// activation socket.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!TestDisplay::instance().x11)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::filesystem::permissions(runtime_.path(), std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        static int argc = 1;
        static char name[] = "gui_desktop_tests";
        static char *argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        if (TestDisplay::instance().trayHost)
            waitFor([] {
                QCoreApplication::processEvents();
                return QSystemTrayIcon::isSystemTrayAvailable();
            });
    }
    void TearDown() override { delete app_; }

private:
    TempDir runtime_;
    QApplication *app_ = nullptr;
};
const auto *const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Waits for the next modal box, notes its title and text, and presses `button`.
struct BoxAnswer {
    QString title, text;
    bool seen = false;
};
void answerNextBox(BoxAnswer &answer, QMessageBox::StandardButton button) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &answer, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        answer.title = box->windowTitle();
        answer.text = box->text();
        answer.seen = true;
        poll->stop();
        poll->deleteLater();
        box->button(button)->click();
    });
    poll->start(20);
    QTimer::singleShot(5000, poll, &QObject::deleteLater); // never answers a later box
}

class DesktopWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetExecutableFolder(dir.path().string());
        porta = std::to_string(testutil::freePortPair());
        tcpPort = std::stoi("1" + porta);
        testutil::writeTestSettings(dir.path().string(), porta, "CAIXA", "SEGREDO");
        form.ServerContainer1 = &container;
        form.LogError = [this](const std::string &m) { logged.push_back(m); };
        window = std::make_unique<TFormPrincipalWindow>(form);
        window->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        window.reset();
        container.DSServer1.Stop();
        SetExecutableFolder("");
    }

    QLabel *labelConectar() const { return qobject_cast<QLabel *>(window->Control(C::LabelConectar)); }
    void click(C control) { QTest::mouseClick(window->Control(control), Qt::LeftButton); }
    void connectServer() {
        click(C::BitBtnConectar);
        ASSERT_TRUE(container.DSServer1.Started()) << (logged.empty() ? "" : logged.back());
    }
    void screenshot(const std::string &name) {
        const std::string path = screenshotDir() + "/" + name;
        EXPECT_TRUE(window->grab().save(QString::fromStdString(path))) << path;
    }

    TempDir dir;
    std::string porta;
    int tcpPort = 0;
    TFormPrincipal form;
    TServerContainer1 container{[this] { return form.Settings(); }, nullptr};
    std::unique_ptr<TFormPrincipalWindow> window;
    std::vector<std::string> logged;
};

TEST_F(DesktopWindow, ConnectAndDisconnectWithTheButtons) {
    EXPECT_EQ(window->windowTitle(), "Corvane Datasnap Printer Server");
    EXPECT_EQ(window->size(), QSize(404, 401));
    EXPECT_EQ(labelConectar()->text(), "Desconectado");
    EXPECT_TRUE(window->Control(C::BitBtnConectar)->isVisible());
    EXPECT_FALSE(window->Control(C::BitBtnDesconectar)->isVisible());
    EXPECT_EQ(qobject_cast<QLabel *>(window->Control(C::LabelNumeroIP))->text().toStdString(), os::firstLocalIPv4());
    EXPECT_EQ(qobject_cast<QLabel *>(window->Control(C::LabelNumeroPorta))->text().toStdString(), porta);
    EXPECT_TRUE(window->ActivationHookListening());
    screenshot("window-disconnected.png");

    connectServer();
    EXPECT_EQ(labelConectar()->text(), "Conectado");
    EXPECT_NE(labelConectar()->styleSheet().indexOf("008000"), -1);
    EXPECT_FALSE(window->Control(C::BitBtnConectar)->isVisible());
    EXPECT_TRUE(window->Control(C::BitBtnDesconectar)->isVisible());
    EXPECT_FALSE(window->MenuItem("Conectar1")->isEnabled());
    EXPECT_TRUE(window->MenuItem("Desconectar1")->isEnabled());
    EXPECT_TRUE(listening(tcpPort)); // the real transports, on the configured ports
    EXPECT_TRUE(listening(std::stoi(porta)));
    screenshot("window-connected.png");

    click(C::BitBtnDesconectar);
    EXPECT_EQ(labelConectar()->text(), "Desconectado");
    EXPECT_NE(labelConectar()->styleSheet().indexOf("ff0000"), -1);
    EXPECT_TRUE(window->MenuItem("Conectar1")->isEnabled());
    EXPECT_FALSE(window->MenuItem("Desconectar1")->isEnabled());
    EXPECT_FALSE(container.DSServer1.Started());
    EXPECT_FALSE(listening(tcpPort));
    EXPECT_TRUE(logged.empty());
}

TEST_F(DesktopWindow, PortInUseGoesToTheEventLogAndChangesNothing) {
    int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(tcpPort));
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(blocker, 1), 0);
    click(C::BitBtnConectar);
    close(blocker);
    EXPECT_EQ(logged.size(), 1u);
    EXPECT_EQ(labelConectar()->text(), "Desconectado");
    EXPECT_TRUE(window->Control(C::BitBtnConectar)->isVisible());
    EXPECT_FALSE(container.DSServer1.Started());
}

TEST_F(DesktopWindow, SettingsButtonWhileConnectedAsksToDisconnect) {
    connectServer();
    BoxAnswer box;
    answerNextBox(box, QMessageBox::Ok);
    QTest::mouseClick(window->BitBtnConfiguracao(), Qt::LeftButton);
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.text, "Desconecte primeiro.");
}

TEST_F(DesktopWindow, ExitAndCloseAskWhileTheServerRuns) {
    connectServer();
    for (auto ask : {+[](TFormPrincipalWindow &w) { QTest::mouseClick(w.BitBtnSair(), Qt::LeftButton); },
                     +[](TFormPrincipalWindow &w) { w.close(); }, // the caption bar's close button
                     +[](TFormPrincipalWindow &w) { w.MenuItem("Sair1")->trigger(); }}) {
        BoxAnswer no;
        answerNextBox(no, QMessageBox::No);
        ask(*window);
        EXPECT_TRUE(no.seen);
        EXPECT_EQ(no.title, "Finalizar Servidor");
        EXPECT_EQ(no.text, "O servidor está conectado, deseja desconectar o servidor?");
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(container.DSServer1.Started());
    }

    BoxAnswer yes;
    answerNextBox(yes, QMessageBox::Yes);
    QTest::mouseClick(window->BitBtnSair(), Qt::LeftButton);
    EXPECT_TRUE(yes.seen);
    EXPECT_FALSE(container.DSServer1.Started());
    EXPECT_FALSE(listening(tcpPort));
    EXPECT_FALSE(window->isVisible());
}

// What another process does to bring the window back: connect to "D10EDA".
QByteArray sendActivation() {
    QLocalSocket peer;
    peer.connectToServer(TFormPrincipalWindow::ActivationServerName());
    if (!peer.waitForConnected(3000))
        return "no connection: " + peer.errorString().toUtf8();
    QByteArray answer;
    waitFor([&] {
        QCoreApplication::processEvents();
        peer.waitForReadyRead(10);
        answer += peer.readAll();
        return !answer.isEmpty();
    });
    return answer;
}

TEST_F(DesktopWindow, ActivationBringsTheHiddenWindowBack) {
    EXPECT_TRUE(TFormPrincipalWindow::ActivationServerName().startsWith(qgetenv("XDG_RUNTIME_DIR")));
    window->hide(); // in the tray
    const bool trayBefore = window->TrayIcon()->isVisible();
    EXPECT_EQ(sendActivation(), "0");
    EXPECT_TRUE(waitFor([&] {
        QCoreApplication::processEvents();
        return window->isVisible();
    }));
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(window->TrayIcon()->isVisible(), trayBefore);
}

TEST_F(DesktopWindow, SecondWindowLeavesTheNameToTheFirst) {
    TFormPrincipal other;
    TServerContainer1 otherContainer{[&other] { return other.Settings(); }, nullptr};
    other.ServerContainer1 = &otherContainer;
    other.LogError = [](const std::string &) {};
    TFormPrincipalWindow second(other);
    second.show();
    EXPECT_FALSE(second.ActivationHookListening());
    EXPECT_TRUE(window->ActivationHookListening());
    second.hide();
    window->hide();
    EXPECT_EQ(sendActivation(), "0");
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(second.isVisible());
}

TEST_F(DesktopWindow, SocketLeftByACrashIsReplaced) {
    window.reset();
    const std::string name = TFormPrincipalWindow::ActivationServerName().toStdString();
    ASSERT_FALSE(std::filesystem::exists(name)); // a normal end removes it
    // What a crashed instance leaves behind: a socket file nobody listens on.
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", name.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    close(s);
    ASSERT_TRUE(std::filesystem::exists(name));

    TFormPrincipal fresh;
    TServerContainer1 freshContainer{[&fresh] { return fresh.Settings(); }, nullptr};
    fresh.ServerContainer1 = &freshContainer;
    fresh.LogError = [](const std::string &) {};
    TFormPrincipalWindow again(fresh);
    again.show();
    EXPECT_TRUE(again.ActivationHookListening());
    again.hide();
    EXPECT_EQ(sendActivation(), "0");
    QCoreApplication::processEvents();
    EXPECT_TRUE(again.isVisible());
}

} // namespace

namespace {

// The window's minimise button: to the tray with the status in the balloon.
TEST_F(DesktopWindow, MinimiseGoesToTheTrayWithTheStatus) {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "no tray host on this display";
    connectServer();
    window->showMinimized();
    ASSERT_TRUE(waitFor([&] {
        QCoreApplication::processEvents();
        return !window->isVisible();
    }));
    EXPECT_TRUE(window->TrayIcon()->isVisible());
    EXPECT_EQ(window->BalloonHint().toStdString(), "Status: Conectado | IP: " + os::firstLocalIPv4() + ":" + porta);

    window->MenuItem("Abrir1")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_FALSE(window->TrayIcon()->isVisible());
    EXPECT_TRUE(container.DSServer1.Started());
}

} // namespace

namespace {

// The settings button opens the settings dialog; its closing reloads the settings.
TEST_F(DesktopWindow, SettingsButtonOpensTheDialogAndReloads) {
    const std::string newPorta = std::to_string(testutil::freePortPair());
    QString dialogTitle;
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        dialogTitle = dialog->windowTitle();
        testutil::writeTestSettings(dir.path().string(), newPorta, "CAIXA", "SEGREDO"); // as if saved
        dialog->reject();
    });
    poll->start(20);
    QTimer::singleShot(10000, poll, &QObject::deleteLater);
    QTest::mouseClick(window->BitBtnConfiguracao(), Qt::LeftButton);
    EXPECT_EQ(dialogTitle, "Configurações do Servidor");
    EXPECT_EQ(qobject_cast<QLabel *>(window->Control(C::LabelNumeroPorta))->text().toStdString(), newPorta);
    EXPECT_EQ(form.Settings()->Porta, newPorta);
}

} // namespace
