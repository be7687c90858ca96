#include <gtest/gtest.h>

#include <filesystem>

#include "local_address.h"
#include "settings_fixture.h"
#include "servidor_cfg.h"
#include "window_fixture.h"

namespace {

using namespace window_test;
using C = FormPrincipalControl;
using testutil::TempDir;

constexpr const char *kNaoDefinidas = "Configurações do servidor ainda não definidas, favor verificar.";
constexpr const char *kPergunta = "Finalizar Servidor: O servidor está conectado, deseja desconectar o servidor?";

TSettings Account(const char *porta, const char *usuario, const char *senha) {
    TSettings s;
    s.Porta = porta;
    s.Usuario = usuario;
    s.Senha = senha;
    return s;
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        SetExecutableFolder(dir.path().string());
        ArrumaPortaCalls::ports().clear();
        form.View = &view;
        form.ServerStandIn = server.Operations();
        form.LogError = [this](const std::string &m) { logged.push_back(m); };
        form.RefreshView();
    }
    void TearDown() override { SetExecutableFolder(""); }

    // The first showing of the window, as the desktop program makes it.
    void Show(std::vector<std::string> parameters = {}) {
        form.Parameters = std::move(parameters);
        form.HandleEvent([this] { view.ShowWindow(); });
    }
    void Click(void (TFormPrincipal::*handler)()) {
        form.HandleEvent([&] { (form.*handler)(); });
    }

    // The view and the form's own record agree on every component of the status table.
    void ExpectStatus(const char *label, TColor color, bool conectarShown, bool conectar1, bool desconectar1) {
        const auto &c = form.Components();
        EXPECT_EQ(c.LabelConectar, label);
        EXPECT_EQ(view.captions[C::LabelConectar], label);
        EXPECT_EQ(c.LabelConectarColor, color);
        EXPECT_EQ(view.colors[C::LabelConectar], color);
        EXPECT_EQ(view.visible[C::BitBtnConectar], conectarShown);
        EXPECT_EQ(view.visible[C::BitBtnDesconectar], !conectarShown);
        EXPECT_EQ(view.enabled[C::Conectar1], conectar1);
        EXPECT_EQ(view.enabled[C::Desconectar1], desconectar1);
        EXPECT_EQ(c.Conectar1Enabled, conectar1);
        EXPECT_EQ(c.Desconectar1Enabled, desconectar1);
    }

    TempDir dir;
    TFormPrincipal form;
    RecordingView view{form};
    FakeServer server;
    std::vector<std::string> logged;
};

// ---- status table ----

TEST_F(Window, StatusTableRows) {
    testutil::writeTestSettings(dir.path(), "8080", "CAIXA", "SEGREDO");
    Show();
    ExpectStatus("Desconectado", clWindowText, true, true, true); // at start

    Click(&TFormPrincipal::BitBtnConectarClick);
    EXPECT_TRUE(server.started);
    EXPECT_EQ(ArrumaPortaCalls::ports(), (std::vector<std::string>{"8080", "8080"})); // load, then connect
    ExpectStatus("Conectado", 0x008000, false, false, true);

    Click(&TFormPrincipal::BitBtnDesconectarClick);
    EXPECT_FALSE(server.started);
    ExpectStatus("Desconectado", 0xFF0000, true, true, false);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(logged.empty());
}

TEST_F(Window, DisconnectWhileStoppedStillShowsDisconnected) {
    Click(&TFormPrincipal::BitBtnDesconectarClick);
    EXPECT_EQ(server.stops, 1);
    ExpectStatus("Desconectado", clRed, true, true, false);
}

TEST_F(Window, ConnectWithIncompleteSettings) {
    struct Case {
        const char *porta, *usuario, *senha;
    };
    for (const Case c : {Case{"", "U", "S"}, Case{"211", "", "S"}, Case{"211", "U", ""}}) {
        SCOPED_TRACE(std::string(c.porta) + "/" + c.usuario + "/" + c.senha);
        TFormPrincipal f;
        RecordingView v{f};
        FakeServer s;
        f.View = &v;
        f.ServerStandIn = s.Operations();
        f.ReplaceSettings(Account(c.porta, c.usuario, c.senha));
        f.BitBtnConectarClick();
        EXPECT_EQ(v.messages, std::vector<std::string>{kNaoDefinidas});
        EXPECT_EQ(s.starts, 0);
        EXPECT_EQ(f.Components().LabelConectar, "Desconectado");
        EXPECT_TRUE(v.visible.empty() && v.enabled.empty());

        // In service mode nobody is asked anything.
        f.servico = true;
        f.BitBtnConectarClick();
        EXPECT_EQ(v.messages.size(), 1u);
    }
}

TEST_F(Window, ServerThatFailsOrDoesNotStartChangesNothing) {
    form.ReplaceSettings(Account("211", "U", "S"));
    server.startFailure = "Address already in use";
    EXPECT_FALSE(form.HandleEvent([&] { form.BitBtnConectarClick(); }));
    EXPECT_EQ(logged, std::vector<std::string>{"Address already in use"}); // the event log, not the screen
    EXPECT_TRUE(view.messages.empty());
    ExpectStatus("Desconectado", clWindowText, true, true, true);

    server.startFailure = nullptr;
    server.refuseStart = true;
    Click(&TFormPrincipal::BitBtnConectarClick);
    EXPECT_EQ(server.starts, 2);
    ExpectStatus("Desconectado", clWindowText, true, true, true);
}

// ---- showing the window ----

TEST_F(Window, ShowInstallsTheHookOnceAndReloadsTheSettingsEachTime) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    Show();
    EXPECT_EQ(view.hooks, 1);
    EXPECT_EQ(form.Tag, 1);
    EXPECT_EQ(view.captions[C::LabelNumeroIP], os::firstLocalIPv4());
    EXPECT_EQ(view.captions[C::LabelNumeroPorta], "211");

    // To the tray and back: a second showing.
    Click(&TFormPrincipal::ApplicationEvents1Minimize);
    EXPECT_FALSE(view.windowShown);
    testutil::writeTestSettings(dir.path(), "9100", "U", "S");
    Click(&TFormPrincipal::Abrir1Click);
    EXPECT_TRUE(view.windowShown);
    EXPECT_EQ(view.hooks, 1);
    EXPECT_EQ(view.captions[C::LabelNumeroPorta], "9100");
    EXPECT_EQ(form.Settings()->Porta, "9100");
}

TEST_F(Window, ServiceModeShowConnectsWithoutHookOrAddress) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    form.servico = true;
    Show({"/a"});
    EXPECT_EQ(view.hooks, 0);
    EXPECT_EQ(form.Tag, 0);
    EXPECT_EQ(view.captions.count(C::LabelNumeroIP) ? view.captions[C::LabelNumeroIP] : "", "");
    EXPECT_TRUE(server.started);
    EXPECT_FALSE(form.Components().TrayIcon1Visible); // "/a" is not looked at
}

TEST_F(Window, FailedSettingsLoadStopsTheShowHandler) {
    std::filesystem::create_directory(dir.path() / kServidorCfgName); // exists but cannot be read
    Show({"/a"});
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(server.starts, 0);
    EXPECT_FALSE(form.Components().TrayIcon1Visible);
    EXPECT_FALSE(form.Components().Timer1Enabled);
    EXPECT_EQ(view.hooks, 1); // installed before the load
}

struct AutoCase {
    const char *name;
    std::vector<std::string> parameters;
    const char *senha;
    bool toTray;
    const char *label;
    std::vector<std::string> messages;
};
void PrintTo(const AutoCase &c, std::ostream *os) {
    *os << c.name;
}

class AutoSwitch : public Window, public ::testing::WithParamInterface<AutoCase> {};

TEST_P(AutoSwitch, ConnectsAndGoesToTheTray) {
    const AutoCase &c = GetParam();
    testutil::writeTestSettings(dir.path(), "211", "U", c.senha);
    Show(c.parameters);
    const auto &k = form.Components();
    EXPECT_EQ(k.LabelConectar, c.label);
    EXPECT_EQ(view.messages, c.messages);
    EXPECT_EQ(k.TrayIcon1Visible, c.toTray);
    EXPECT_EQ(view.visible[C::TrayIcon1], c.toTray);
    EXPECT_EQ(k.Timer1Enabled, c.toTray);
    EXPECT_EQ(view.enabled[C::Timer1], c.toTray);
    if (!c.toTray) {
        EXPECT_TRUE(view.balloons.empty());
        EXPECT_EQ(server.starts, 0);
        return;
    }
    // The tray menu reads as after a connect, whether or not it succeeded.
    EXPECT_FALSE(k.Conectar1Enabled);
    EXPECT_TRUE(k.Desconectar1Enabled);
    const std::string balloon = "Status: " + std::string(c.label) + " | IP: " + os::firstLocalIPv4() + ":211";
    EXPECT_EQ(view.balloons, (std::vector<std::string>{balloon, balloon}));

    // Half a second later the window goes to the tray.
    Click(&TFormPrincipal::Timer1Timer);
    EXPECT_FALSE(view.windowShown);
    EXPECT_FALSE(form.Components().Timer1Enabled);
}

const std::string kFull = "Status: Conectado | IP: ";

INSTANTIATE_TEST_SUITE_P(Parameters, AutoSwitch,
                         ::testing::Values(AutoCase{"lower", {"/a"}, "S", true, "Conectado", {}},
                                           AutoCase{"upper", {"/A", "x"}, "S", true, "Conectado", {}},
                                           AutoCase{"second", {"x", "/a"}, "S", false, "Desconectado", {}},
                                           AutoCase{"other", {"/ab"}, "S", false, "Desconectado", {}},
                                           AutoCase{"none", {}, "S", false, "Desconectado", {}},
                                           AutoCase{
                                               "emptyPassword", {"/a"}, "", true, "Desconectado", {kNaoDefinidas}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Window, RestoreAfterAutoStartKeepsConnectionAndWindow) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    Show({"/a"});
    Click(&TFormPrincipal::Timer1Timer);
    ASSERT_FALSE(view.windowShown);

    Click(&TFormPrincipal::TrayIcon1DblClick); // FormShow again: already connected
    EXPECT_EQ(server.starts, 1);
    EXPECT_TRUE(view.windowShown);
    EXPECT_EQ(view.state, TWindowState::wsNormal);
    EXPECT_FALSE(form.Components().Timer1Enabled);   // stopped by the restore, so the window stays
    EXPECT_TRUE(form.Components().TrayIcon1Visible); // shown again by FormShow
    EXPECT_EQ(form.Components().BalloonHint, kFull + os::firstLocalIPv4() + ":211");
    ExpectStatus("Conectado", clGreen, false, false, true);
}

// ---- tray ----

TEST_F(Window, MinimiseGivesShortOrFullBalloon) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    Show();
    Click(&TFormPrincipal::ApplicationEvents1Minimize);
    EXPECT_FALSE(view.windowShown);
    EXPECT_EQ(view.state, TWindowState::wsMinimized);
    EXPECT_TRUE(view.visible[C::TrayIcon1]);
    EXPECT_EQ(view.balloons, std::vector<std::string>{"Status: Desconectado"});

    Click(&TFormPrincipal::Abrir1Click);
    EXPECT_FALSE(view.visible[C::TrayIcon1]);
    Click(&TFormPrincipal::BitBtnConectarClick);
    Click(&TFormPrincipal::ApplicationEvents1Minimize);
    EXPECT_EQ(view.balloons.back(), kFull + os::firstLocalIPv4() + ":211");
}

TEST_F(Window, TrayMenuConnectAndDisconnect) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    Show();
    Click(&TFormPrincipal::Conectar1Click);
    ExpectStatus("Conectado", clGreen, false, false, true);
    EXPECT_EQ(view.balloons.back(), kFull + os::firstLocalIPv4() + ":211");
    Click(&TFormPrincipal::Desconectar1Click);
    ExpectStatus("Desconectado", clRed, true, true, false);
    EXPECT_EQ(view.balloons.back(), "Status: Desconectado");
    EXPECT_FALSE(server.started);
}

TEST_F(Window, WithoutATrayTheWindowStaysMinimisedAndSaysSoOnce) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    view.trayAvailable = false;
    Show({"/a"});
    Click(&TFormPrincipal::Timer1Timer);
    Click(&TFormPrincipal::ApplicationEvents1Minimize);
    EXPECT_TRUE(view.windowShown); // never hidden: nothing could bring it back
    EXPECT_EQ(view.state, TWindowState::wsMinimized);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].find("notificação"), std::string::npos);
}

TEST_F(Window, ActivationRestoresWithoutTouchingTrayOrTimer) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    Show({"/a"});
    Click(&TFormPrincipal::Timer1Timer);
    Click(&TFormPrincipal::ApplicationEvents1Minimize);
    form.Parameters.clear();
    const auto before = form.Components();
    EXPECT_EQ(form.ActivationWindowProc(), 0);
    EXPECT_EQ(view.restores, 1);
    EXPECT_EQ(view.broughtToFront, 1);
    EXPECT_EQ(view.state, TWindowState::wsNormal);
    EXPECT_EQ(form.Components().TrayIcon1Visible, before.TrayIcon1Visible);
    EXPECT_EQ(form.Components().Timer1Enabled, before.Timer1Enabled);
}

// ---- settings button ----

TEST_F(Window, SettingsButtonOnlyWhileNotConnected) {
    testutil::writeTestSettings(dir.path(), "211", "U", "S");
    Show();
    view.onDialog = [this] { testutil::writeTestSettings(dir.path(), "3050", "U", "S"); };
    Click(&TFormPrincipal::BitBtnConfiguracaoClick);
    EXPECT_EQ(view.dialogs, 1);
    EXPECT_EQ(view.captions[C::LabelNumeroPorta], "3050"); // reloaded after the dialog

    Click(&TFormPrincipal::BitBtnConectarClick);
    Click(&TFormPrincipal::BitBtnConfiguracaoClick);
    EXPECT_EQ(view.dialogs, 1);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Desconecte primeiro."});

    Click(&TFormPrincipal::BitBtnDesconectarClick); // "Desconectado" in red: opens again
    Click(&TFormPrincipal::BitBtnConfiguracaoClick);
    EXPECT_EQ(view.dialogs, 2);
}

// ---- exit and close ----

struct ExitCase {
    const char *name;
    void (*act)(TFormPrincipal &, RecordingView &);
    bool started, yes;
    int questions, stops;
    bool closed;
};
void PrintTo(const ExitCase &c, std::ostream *os) {
    *os << c.name;
}

class Exit : public Window, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(Exit, AsksOnlyWhileStarted) {
    const ExitCase &c = GetParam();
    server.started = c.started;
    view.answerYes = c.yes;
    c.act(form, view);
    EXPECT_EQ(view.questions.size(), static_cast<size_t>(c.questions)); // never asked twice
    if (c.questions) {
        EXPECT_EQ(view.questions[0], kPergunta);
    }
    EXPECT_EQ(server.stops, c.stops);
    EXPECT_EQ(view.closed, c.closed);
    EXPECT_EQ(server.started, c.started && !c.yes);
}

void sair(TFormPrincipal &f, RecordingView &) {
    f.BitBtnSairClick();
}
void sair1(TFormPrincipal &f, RecordingView &) {
    f.Sair1Click();
}
void fechar(TFormPrincipal &, RecordingView &v) {
    v.CloseWindow();
} // caption bar's close button

INSTANTIATE_TEST_SUITE_P(Cases, Exit,
                         ::testing::Values(ExitCase{"SairStoppedServer", sair, false, false, 0, 0, true},
                                           ExitCase{"SairYes", sair, true, true, 1, 1, true},
                                           ExitCase{"SairNo", sair, true, false, 1, 0, false},
                                           ExitCase{"Sair1Yes", sair1, true, true, 1, 1, true},
                                           ExitCase{"Sair1No", sair1, true, false, 1, 0, false},
                                           ExitCase{"CloseStoppedServer", fechar, false, false, 0, 0, true},
                                           ExitCase{"CloseYes", fechar, true, true, 1, 1, true},
                                           ExitCase{"CloseNo", fechar, true, false, 1, 0, false}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
