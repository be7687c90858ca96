#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "servidor_cfg.h"
#include "settings_text.h"
#include "temp_dir.h"
#include "uScramble.h"
#include "uServerConfig.h"

namespace {

using C = ServerConfigControl;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

// A server stand-in that records the dialog's calls.
struct RecordingServer {
    bool started = false;
    std::vector<std::string> calls;
    TServerConfigServer operations() {
        return {[this] { return started; },
                [this] {
                    calls.push_back("Stop");
                    started = false;
                },
                [this] {
                    calls.push_back("Start");
                    started = true;
                }};
    }
};

class Dialog : public ::testing::Test {
protected:
    void SetUp() override { SetExecutableFolder(dir.path().string()); }
    void TearDown() override { SetExecutableFolder(""); }

    // A dialog as its callers open it: created, then shown.
    std::unique_ptr<TFormServerConfig> Open(TServerConfigMemoryView &view) {
        auto form = std::make_unique<TFormServerConfig>(
            view, server.operations(),
            [] {
                return std::vector<std::string>{"PDF", "Escritório"};
            },
            [] { return std::string("192.168.10.5"); });
        form->FormCreate();
        form->FormShow();
        return form;
    }
    std::string cfg() const { return dir.file("servidor.cfg"); }
    ServidorCfgLines Saved() const { return ReadServidorCfg(cfg()); }

    TempDir dir;
    RecordingServer server;
};

// port "211", user "CAIXA", password "SÉ", minimise "-1", page printer.
const std::string kFile = "9MLL\r\n"
                          "2IGO^G\r\n"
                          "5b\xD8\r\n"
                          "36:\r\n"
                          "2\r\n"
                          "PDF\r\n"
                          "35\r\n"
                          "S\r\n"
                          "x\r\n"
                          "1\r\n"
                          "s\r\n"
                          "S\r\n"
                          " EPSON \r\n";

TEST_F(Dialog, WithoutFileShowsTheInitialContents) {
    TServerConfigMemoryView view;
    auto form = Open(view);
    EXPECT_EQ(view.Text(C::LabelNumeroIP), "192.168.10.5");
    EXPECT_EQ(view.Text(C::EditPorta), "211");
    EXPECT_EQ(view.Text(C::EditUsuario), "");
    EXPECT_EQ(view.Text(C::EditSenha), "");
    EXPECT_TRUE(view.Checked(C::RadioButton1));
    EXPECT_FALSE(view.Checked(C::RadioButton2));
    EXPECT_EQ(view.Text(C::Label3), "Caminho Impressora:");
    EXPECT_TRUE(view.Visible(C::Panel3));
    EXPECT_FALSE(view.Visible(C::Panel2));
    EXPECT_EQ(view.Top(C::Panel2), 129);
    EXPECT_EQ(view.Top(C::Panel3), 129);
    EXPECT_EQ(view.Value(C::SpinEdit1), 11);
    EXPECT_EQ(view.Value(C::SpinEdit2), 10);
    EXPECT_EQ(view.Value(C::SpinEdit3), 10);
    for (auto c : {C::CheckBoxMinimizar, C::CheckBox1, C::CheckCondensa, C::CheckCortar})
        EXPECT_FALSE(view.Checked(c));
    EXPECT_EQ(view.Items(C::ComboBox1), (std::vector<std::string>{"PDF", "Escritório", " "}));
    EXPECT_EQ(TFormServerConfig::StoredFolder(), dir.path().string() + "/");
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(Dialog, FillsItselfFromTheFile) {
    writeFile(cfg(), kFile);
    TServerConfigMemoryView view;
    auto form = Open(view);
    EXPECT_EQ(view.Text(C::EditPorta), "211");
    EXPECT_EQ(view.Text(C::EditUsuario), "CAIXA");
    EXPECT_EQ(view.Text(C::EditSenha), "SÉ");
    EXPECT_TRUE(view.Checked(C::CheckBoxMinimizar));
    EXPECT_TRUE(view.Checked(C::RadioButton2));
    EXPECT_EQ(view.Text(C::Label3), "Nome Impressora:");
    EXPECT_TRUE(view.Visible(C::Panel2));
    EXPECT_FALSE(view.Visible(C::Panel3));
    EXPECT_EQ(view.Text(C::ComboBox1), "PDF"); // the list does not change the text
    EXPECT_EQ(view.Value(C::SpinEdit1), 20);   // 35 brought into 3..20
    EXPECT_EQ(view.Value(C::SpinEdit2), 10);   // no digit: initial value
    EXPECT_EQ(view.Value(C::SpinEdit3), 1);
    EXPECT_TRUE(view.Checked(C::CheckBox1));
    EXPECT_FALSE(view.Checked(C::CheckCondensa)); // "s" is not "S"
    EXPECT_TRUE(view.Checked(C::CheckCortar));
    EXPECT_EQ(view.Text(C::Tipo_impressora), "EPSON");
    EXPECT_EQ(TFormServerConfig::StoredLines(), ReadServidorCfg(cfg()));
}

TEST_F(Dialog, LineVariants) {
    const struct {
        const char *name;
        std::string bytes;
        std::function<void(const TServerConfigMemoryView &)> check;
    } cases[] = {
        {"font 1 opens at 3, line 5 empty chooses the receipt printer", "9MLL\r\n\r\n\r\n32\r\n\r\n\r\n1\r\n",
         [](const TServerConfigMemoryView &v) {
             EXPECT_EQ(v.Value(C::SpinEdit1), 3);
             EXPECT_TRUE(v.Checked(C::RadioButton1));
             EXPECT_FALSE(v.Checked(C::CheckBoxMinimizar)); // "0"
             EXPECT_TRUE(v.Visible(C::Panel3));
         }},
        {"digits beyond any range", "\r\n\r\n\r\n\r\n1\r\n\r\n\r\n\r\n99999999999999999999\r\n0000000000005\r\n",
         [](const TServerConfigMemoryView &v) {
             EXPECT_EQ(v.Value(C::SpinEdit2), 999);
             EXPECT_EQ(v.Value(C::SpinEdit3), 5);
             EXPECT_EQ(v.Text(C::EditPorta), ""); // an empty line 1 unscrambles to nothing
         }},
        {"minimise line that is no Boolean", "9MLL\r\n\r\n\r\n0yes\r\n",
         [](const TServerConfigMemoryView &v) { EXPECT_FALSE(v.Checked(C::CheckBoxMinimizar)); }},
        {"minimise line True and 2", "9MLL\r\n\r\n\r\n0tRUE\r\n",
         [](const TServerConfigMemoryView &v) { EXPECT_TRUE(v.Checked(C::CheckBoxMinimizar)); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(cfg(), c.bytes);
        TServerConfigMemoryView view;
        auto form = Open(view);
        c.check(view);
    }
}

TEST_F(Dialog, ApplyWritesTheThirteenLines) {
    TServerConfigMemoryView view;
    auto form = Open(view);
    view.SetText(C::EditPorta, "8080");
    view.SetText(C::EditUsuario, "caixa");
    view.SetText(C::EditSenha, "sé");
    view.SetChecked(C::CheckBoxMinimizar, true);
    view.SetChecked(C::RadioButton2, true);
    view.SetText(C::ComboBox1, "  Escritório ");
    view.SetValue(C::SpinEdit1, 12);
    view.SetChecked(C::CheckBox1, true);
    view.SetValue(C::SpinEdit2, 0);
    view.SetValue(C::SpinEdit3, 999);
    view.SetChecked(C::CheckCortar, true);
    view.SetText(C::Tipo_impressora, " ");
    form->BitBtnAplicarClick();
    EXPECT_TRUE(view.closed);

    const ServidorCfgLines l = Saved();
    EXPECT_EQ(unscramble(l[0]), "8080");
    EXPECT_EQ(unscramble(l[1]), "CAIXA");
    EXPECT_EQ(unscramble(l[2]), "S\xC9");
    EXPECT_EQ(unscramble(l[3]), "-1");
    for (int i = 0; i < 4; ++i) {
        ASSERT_FALSE(l[i].empty());
        EXPECT_GE(l[i][0], '2');
        EXPECT_LE(l[i][0], '9');
    }
    const std::string plain = "2\r\nEscrit\xF3rio\r\n12\r\nS\r\n0\r\n999\r\nN\r\nS\r\n\r\n";
    const std::string bytes = readFile(cfg());
    EXPECT_EQ(bytes.substr(bytes.size() - plain.size()), plain);
    struct stat st;
    ASSERT_EQ(stat(cfg().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next dialog shows what was saved.
    TServerConfigMemoryView again;
    auto form2 = Open(again);
    EXPECT_EQ(again.Text(C::EditPorta), "8080");
    EXPECT_EQ(again.Text(C::EditUsuario), "CAIXA");
    EXPECT_EQ(again.Text(C::EditSenha), "SÉ");
    EXPECT_EQ(again.Text(C::ComboBox1), "Escritório");
    EXPECT_EQ(again.Text(C::Tipo_impressora), "");
    EXPECT_TRUE(again.Checked(C::RadioButton2));
    EXPECT_EQ(again.Value(C::SpinEdit2), 0);
    EXPECT_EQ(again.Value(C::SpinEdit3), 999);
}

TEST_F(Dialog, SavingTwiceKeepsTheValues) {
    writeFile(cfg(), kFile);
    ServidorCfgLines first;
    for (int round = 0; round < 2; ++round) {
        TServerConfigMemoryView view;
        auto form = Open(view);
        form->BitBtnAplicarClick();
        const ServidorCfgLines l = Saved();
        if (round == 0) {
            first = l;
            continue;
        }
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(unscramble(l[i]), unscramble(first[i])) << i;
        for (int i = 4; i < 13; ++i)
            EXPECT_EQ(l[i], first[i]) << i;
    }
    EXPECT_EQ(unscramble(first[2]), "S\xC9");
    EXPECT_EQ(first[6], "20"); // the value the box showed, not the line
    EXPECT_EQ(first[12], "EPSON");
}

TEST_F(Dialog, RestartOnlyWhenStartedAndAccessChanged) {
    const struct {
        const char *name;
        bool started;
        std::function<void(TServerConfigMemoryView &)> edit;
        bool restart;
        std::string file = kFile;
    } cases[] = {
        {"nothing changed", true, [](TServerConfigMemoryView &) {}, false},
        {"only printing changed", true,
         [](TServerConfigMemoryView &v) {
             v.SetText(C::ComboBox1, "other");
             v.SetChecked(C::CheckBoxMinimizar, false);
         },
         false},
        {"port", true, [](TServerConfigMemoryView &v) { v.SetText(C::EditPorta, "212"); }, true},
        {"user", true, [](TServerConfigMemoryView &v) { v.SetText(C::EditUsuario, "OUTRO"); }, true},
        {"user case", true, [](TServerConfigMemoryView &v) { v.SetText(C::EditUsuario, "caixa"); }, true},
        {"password", true, [](TServerConfigMemoryView &v) { v.SetText(C::EditSenha, "NOVA"); }, true},
        {"password lower case saves the same", true, [](TServerConfigMemoryView &v) { v.SetText(C::EditSenha, "sé"); },
         false},
        {"stopped, port changed", false, [](TServerConfigMemoryView &v) { v.SetText(C::EditPorta, "212"); }, false},
        // Another tool stored "sé": the box shows "SÉ", which is saved and differs from the stored text.
        {"password stored in lower case", true, [](TServerConfigMemoryView &) {}, true,
         std::string(kFile).replace(kFile.find("5b\xD8"), 3, "5\x82\xF8")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(cfg(), c.file);
        server = {};
        server.started = c.started;
        TServerConfigMemoryView view;
        auto form = Open(view);
        c.edit(view);
        form->BitBtnAplicarClick();
        const std::vector<std::string> expected =
            c.restart ? std::vector<std::string>{"Stop", "Start"} : std::vector<std::string>{};
        EXPECT_EQ(server.calls, expected);
        EXPECT_EQ(server.started, c.started);
    }
}

TEST_F(Dialog, TheStoredPasswordLineTypedInIsKept) {
    writeFile(cfg(), kFile);
    server.started = true;
    TServerConfigMemoryView view;
    auto form = Open(view);
    view.SetText(C::EditSenha, FromAnsi("5b\xD8"));
    form->BitBtnAplicarClick();
    EXPECT_EQ(Saved()[2], "5b\xD8");
    EXPECT_TRUE(server.calls.empty());
}

TEST_F(Dialog, StoredLinesOutliveTheDialog) {
    writeFile(cfg(), kFile);
    {
        TServerConfigMemoryView view;
        Open(view);
    }
    std::filesystem::remove(cfg());
    server.started = true;
    TServerConfigMemoryView view;
    auto form = Open(view); // no file: initial contents, stored lines kept
    EXPECT_EQ(view.Text(C::EditUsuario), "");
    view.SetText(C::EditUsuario, "CAIXA");
    view.SetText(C::EditSenha, "SÉ");
    form->BitBtnAplicarClick(); // port "211" as before: the earlier lines say nothing changed
    EXPECT_TRUE(server.calls.empty());
    EXPECT_EQ(unscramble(Saved()[1]), "CAIXA");
}

TEST_F(Dialog, PortBoxChecks) {
    TServerConfigMemoryView view;
    auto form = Open(view);
    for (char32_t key : {U'0', U'9', char32_t(8)})
        EXPECT_TRUE(form->Handle([&] { form->EditPortaKeyPress(key); }));
    for (char32_t key : {U'a', U' ', U'-', U'٣', char32_t(13)})
        EXPECT_FALSE(form->Handle([&] { form->EditPortaKeyPress(key); }));
    EXPECT_EQ(view.errors, std::vector<std::string>(5, "Digite apenas números."));

    const struct {
        const char *text;
        const char *error; // nullptr: accepted
    } exits[] = {
        {"1", nullptr},
        {"211", nullptr},
        {"65536", nullptr},
        {"0", "Esta Porta não é válida! (0 ~ 65536)"},
        {"65537", "Esta Porta não é válida! (0 ~ 65536)"},
        {"99999", "Esta Porta não é válida! (0 ~ 65536)"},
        {"", "'' is not a valid integer value."},
        {"2a", "'2a' is not a valid integer value."},
    };
    for (const auto &e : exits) {
        view.errors.clear();
        view.SetText(C::EditPorta, e.text);
        EXPECT_EQ(form->Handle([&] { form->EditPortaExit(); }), e.error == nullptr) << e.text;
        EXPECT_EQ(view.errors, e.error ? std::vector<std::string>{e.error} : std::vector<std::string>{}) << e.text;
    }
}

TEST_F(Dialog, CancelWritesNothing) {
    TServerConfigMemoryView view;
    auto form = Open(view);
    form->BitBtnCancelarClick();
    EXPECT_TRUE(view.closed);
    EXPECT_FALSE(std::filesystem::exists(cfg()));
}

TEST_F(Dialog, ApplyFailureKeepsTheDialogOpenAndTheServerRunning) {
    server.started = true;
    TServerConfigMemoryView view;
    auto form = Open(view);
    view.SetText(C::EditPorta, "8080");
    std::filesystem::create_directory(cfg()); // cannot be replaced
    EXPECT_FALSE(form->Handle([&] { form->BitBtnAplicarClick(); }));
    EXPECT_EQ(view.errors, std::vector<std::string>{"File access denied."});
    EXPECT_FALSE(view.closed);
    EXPECT_TRUE(server.calls.empty());
}

TEST_F(Dialog, UnreadableFileFailsTheShow) {
    std::filesystem::create_directory(cfg());
    TServerConfigMemoryView view;
    TFormServerConfig form(view, server.operations(), {}, {});
    form.FormCreate();
    EXPECT_THROW(form.FormShow(), EInOutError);
}

TEST(ErrorBoxText, FullStopAfterCodesAboveTheFullStop) {
    const struct {
        std::string message, shown;
    } cases[] = {
        {"Digite apenas números", "Digite apenas números."},
        {"Esta Porta não é válida! (0 ~ 65536)", "Esta Porta não é válida! (0 ~ 65536)"},
        {"Fim.", "Fim."},
        {"Fim/", "Fim/."},
        {"Fim-", "Fim-"},
        {"Olá", "Olá."},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TFormServerConfig::ErrorBoxText(c.message), c.shown);
}

TEST(FirstLocalIPv4, DottedQuadOrEmpty) {
    const std::string ip = TFormServerConfig::FirstLocalIPv4();
    EXPECT_NE(ip, "127.0.0.1");
    if (!ip.empty()) {
        EXPECT_EQ(std::count(ip.begin(), ip.end(), '.'), 3);
    }
}

} // namespace

namespace {

// Shifted bytes must never form a line end or the end-of-file byte in the file.
TEST_F(Dialog, ScrambledLinesNeverBreakTheFile) {
    for (int round = 0; round < 30; ++round) {
        TServerConfigMemoryView view;
        auto form = Open(view);
        view.SetText(C::EditUsuario, "\x04\x01"); // LF or CR under keys 2, 3 and 4
        view.SetText(C::EditSenha, "\x0B\x08");   // under keys 5 and 6
        view.SetText(C::ComboBox1, "LPT1");
        form->BitBtnAplicarClick();
        const ServidorCfgLines l = Saved();
        ASSERT_EQ(unscramble(l[1]), "\x04\x01");
        ASSERT_EQ(unscramble(l[2]), "\x0B\x08");
        ASSERT_EQ(l[5], "LPT1");
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(l[i].find_first_of("\r\n\x1A"), std::string::npos);
    }
    // No key can store this one: refused, and the file is left as it was.
    const std::string before = readFile(cfg());
    TServerConfigMemoryView view;
    auto form = Open(view);
    view.SetText(C::EditPorta, "\x04\x01\x0B\x08\x05\x02ï");
    EXPECT_FALSE(form->Handle([&] { form->BitBtnAplicarClick(); }));
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_FALSE(view.closed);
    EXPECT_EQ(readFile(cfg()), before);
    view.SetText(C::EditPorta, "211");
    view.SetText(C::Tipo_impressora, "EP\nSON");
    EXPECT_FALSE(form->Handle([&] { form->BitBtnAplicarClick(); }));
    EXPECT_EQ(readFile(cfg()), before);
}

} // namespace
