#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include "arruma_porta_recorder.h"
#include "servidor_cfg.h"
#include "temp_dir.h"
#include "uScramble.h"
#include "uServerPrincipal.h"

namespace {

using testutil::TempDir;
using testutil::writeFile;

class RecordingView : public IFormPrincipalView {
public:
    void ShowMessage(const std::string &text) override { messages.push_back(text); }
    void SetPortLabel(const std::string &caption) override { portLabels.push_back(caption); }
    void ShowSettingsDialog() override {
        ++dialogs;
        if (onDialog)
            onDialog();
    }
    std::vector<std::string> messages, portLabels;
    int dialogs = 0;
    std::function<void()> onDialog;
};

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        SetExecutableFolder(dir.path().string());
        ArrumaPortaRecorder::instance() = {};
        form.View = &view;
    }
    void TearDown() override { SetExecutableFolder(""); }
    std::string cfg() const { return dir.file("servidor.cfg"); }
    std::vector<std::string> &ports() { return ArrumaPortaRecorder::instance().ports; }

    TempDir dir;
    RecordingView view;
    TFormPrincipal form;
};

// Line 1 "211" with key 9, line 2 "caixa" with key 2, line 3 "sé" with key 5,
// line 4 "-1" with key 3: lines as the original program writes them.
const std::string kExampleFile = "9MLL\r\n"
                                 "2igo~g\r\n"
                                 "5\x82\xF8\r\n"
                                 "36:\r\n"
                                 "1\r\n"
                                 "\\\\.\\COM1\r\n"
                                 "12\r\n"
                                 "S\r\n"
                                 "15\r\n"
                                 "20\r\n"
                                 "S\r\n"
                                 "N\r\n"
                                 "  EPSON \t\r\n";

TEST_F(Loader, ExampleFileLoadsToTheRecord) {
    writeFile(cfg(), kExampleFile);
    form.carregaParametro();
    const auto s = form.Settings();
    EXPECT_EQ(form.Dir, dir.path().string() + "/");
    EXPECT_EQ(s->Porta, "211");
    EXPECT_EQ(s->Usuario, "caixa"); // loaded as stored, not upper-cased
    EXPECT_EQ(s->Senha, "SÉ");      // upper-cased on load
    EXPECT_EQ(s->Minimizar, "-1");
    EXPECT_EQ(s->op_impr, "1");
    EXPECT_EQ(s->vimpressora, "\\\\.\\COM1");
    EXPECT_EQ(s->fonte_tam, "12");
    EXPECT_EQ(s->negrito, "S");
    EXPECT_EQ(s->mesquerda, "15");
    EXPECT_EQ(s->msuperior, "20");
    EXPECT_EQ(s->condensa, "S");
    EXPECT_EQ(s->corta, "N");
    EXPECT_EQ(s->vtipo_impressora, "EPSON");
    EXPECT_EQ(view.portLabels, std::vector<std::string>{"211"});
    EXPECT_EQ(ports(), std::vector<std::string>{"211"}); // handed on after the record was replaced
    EXPECT_EQ(view.dialogs, 0);
}

TEST_F(Loader, DefaultsTrimmingAndLinesAsRead) {
    const struct {
        const char *name;
        std::string bytes;
        std::function<void(const TSettings &)> check;
    } cases[] = {
        {"no digits get defaults", "9MLL\r\n\r\n\r\n\r\n\r\n\r\nabc\r\n\r\nx\r\n-\r\n",
         [](const TSettings &s) {
             EXPECT_EQ(s.fonte_tam, "11");
             EXPECT_EQ(s.negrito, "N");
             EXPECT_EQ(s.mesquerda, "10");
             EXPECT_EQ(s.msuperior, "10");
         }},
        {"values with digits stay as read",
         "9MLL\r\n\r\n\r\n\r\nx\r\n COM1 \r\n 12 \r\n \r\n1a\r\n-5\r\ns\r\n?\r\n \r\n",
         [](const TSettings &s) {
             EXPECT_EQ(s.op_impr, "x");
             EXPECT_EQ(s.vimpressora, " COM1 ");
             EXPECT_EQ(s.fonte_tam, " 12 ");
             EXPECT_EQ(s.negrito, " ");
             EXPECT_EQ(s.mesquerda, "1a");
             EXPECT_EQ(s.msuperior, "-5");
             EXPECT_EQ(s.condensa, "s");
             EXPECT_EQ(s.corta, "?");
             EXPECT_EQ(s.vtipo_impressora, "");
         }},
        {"four lines", "9MLL\n2igo~g\n5\x82\xF8\n36:\n",
         [](const TSettings &s) {
             EXPECT_EQ(s.Porta, "211");
             EXPECT_EQ(s.Minimizar, "-1");
             EXPECT_EQ(s.op_impr, "");
             EXPECT_EQ(s.vimpressora, "");
             EXPECT_EQ(s.fonte_tam, "11");
             EXPECT_EQ(s.negrito, "N");
             EXPECT_EQ(s.mesquerda, "10");
             EXPECT_EQ(s.msuperior, "10");
             EXPECT_EQ(s.condensa, "");
             EXPECT_EQ(s.vtipo_impressora, "");
         }},
        {"extra lines ignored, bare LF",
         [] {
             std::string b = kExampleFile;
             for (auto p = b.find("\r\n"); p != std::string::npos; p = b.find("\r\n"))
                 b.erase(p, 1);
             return b + "more\nlines\n";
         }(),
         [](const TSettings &s) {
             EXPECT_EQ(s.Usuario, "caixa");
             EXPECT_EQ(s.vtipo_impressora, "EPSON");
         }},
        {"byte-order mark: port unscrambled with key 0",
         "\xEF\xBB\xBF"
         "9MLL\r\n",
         [](const TSettings &s) {
             EXPECT_EQ(s.Porta, "\xC2\xBB\xC2\xBF"
                                "9MLL");
         }},
        {"hand-edited lines never fail", "A12\r\n0abc\r\n1def\r\n\r\n",
         [](const TSettings &s) {
             EXPECT_EQ(s.Porta, "12");
             EXPECT_EQ(s.Usuario, "abc");
             EXPECT_EQ(s.Senha, "ABC");
             EXPECT_EQ(s.Minimizar, "");
         }},
        {"code page text", "9MLL\r\n\r\n\r\n\r\n2\r\nImpressora Escrit\xF3rio\r\n",
         [](const TSettings &s) { EXPECT_EQ(s.vimpressora, "Impressora Escritório"); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(cfg(), c.bytes);
        form.carregaParametro();
        c.check(*form.Settings());
    }
}

TEST_F(Loader, EveryLoadReplacesAllFields) {
    writeFile(cfg(), kExampleFile);
    form.carregaParametro();
    const auto before = form.Settings();
    writeFile(cfg(), "9MLL\r\n");
    form.carregaParametro();
    EXPECT_EQ(before->Usuario, "caixa"); // a reader's snapshot is left as it was
    EXPECT_EQ(form.Settings()->Usuario, "");
    EXPECT_EQ(form.Settings()->vtipo_impressora, "");
}

TEST_F(Loader, MissingFileInServiceModeFailsAndChangesNothing) {
    TSettings earlier;
    earlier.Porta = "8080";
    form.ReplaceSettings(earlier);
    form.servico = true;
    try {
        form.carregaParametro();
        FAIL() << "no error";
    } catch (const std::exception &e) {
        EXPECT_NE(std::string(e.what()).find(cfg()), std::string::npos) << e.what();
    }
    EXPECT_EQ(view.dialogs, 0);
    EXPECT_EQ(form.Settings()->Porta, "8080");
    EXPECT_TRUE(view.portLabels.empty());
    EXPECT_TRUE(ports().empty());
    // Without a window there is nobody to ask either.
    form.servico = false;
    form.View = nullptr;
    EXPECT_THROW(form.carregaParametro(), std::exception);
}

TEST_F(Loader, MissingFileOnTheDesktopAsksUntilOneIsSaved) {
    view.onDialog = [this] {
        if (view.dialogs == 3) // closed twice without saving, then saved
            writeFile(cfg(), kExampleFile);
    };
    form.carregaParametro();
    EXPECT_EQ(view.dialogs, 3);
    EXPECT_EQ(form.Settings()->Porta, "211");
    EXPECT_EQ(ports().size(), 1u);
}

TEST_F(Loader, UnreadableFileRaisesAndKeepsTheRecord) {
    TSettings earlier;
    earlier.Porta = "8080";
    earlier.Senha = "OLD";
    earlier.vtipo_impressora = "DARUMA";
    form.ReplaceSettings(earlier);
    const bool root = geteuid() == 0;
    if (root) {
        // Permissions do not stop root; a folder in the file's place does.
        std::filesystem::create_directory(cfg());
    } else {
        writeFile(cfg(), kExampleFile);
        chmod(cfg().c_str(), 0);
    }
    try {
        form.carregaParametro();
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode, 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
    EXPECT_EQ(form.Dir, dir.path().string() + "/");
    const auto s = form.Settings();
    EXPECT_EQ(s->Porta, "8080");
    EXPECT_EQ(s->Senha, "OLD");
    EXPECT_EQ(s->vtipo_impressora, "DARUMA");
    EXPECT_TRUE(view.portLabels.empty());
    EXPECT_TRUE(ports().empty());
    EXPECT_EQ(view.dialogs, 0);
}

TEST_F(Loader, HandOffErrorsPassAfterTheRecordIsFilled) {
    writeFile(cfg(), "0abc\r\n");
    ArrumaPortaRecorder::instance().failure = "'1abc' is not a valid integer value";
    try {
        form.carregaParametro();
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "'1abc' is not a valid integer value");
    }
    EXPECT_EQ(form.Settings()->Porta, "abc");
    EXPECT_EQ(view.portLabels, std::vector<std::string>{"abc"});
}

TEST_F(Loader, ServiceModeWithoutWindow) {
    writeFile(cfg(), kExampleFile);
    form.View = nullptr;
    form.servico = true;
    form.carregaParametro();
    EXPECT_EQ(form.Settings()->Porta, "211");
    EXPECT_EQ(ports().size(), 1u);
}

} // namespace
