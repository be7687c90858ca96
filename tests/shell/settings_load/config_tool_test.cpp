#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

#include "../../platform/db/firebird_test_db.h"
#include "arruma_porta_recorder.h"
#include "servidor_cfg.h"
#include "temp_dir.h"
#include "uServerPrincipal.h"

#ifdef CORVANE_CONFIG_TOOL

namespace {

using testutil::readFile;
using testutil::TempDir;

struct ToolRun {
    int status;
    std::string output; // standard output and error together
};

std::string Quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ToolRun Tool(const TempDir &dir, const std::vector<std::string> &args, const std::string &stdinText = "") {
    std::string cmd =
        "printf %s " + Quote(stdinText) + " | " + Quote(CORVANE_CONFIG_TOOL) + " --dir " + Quote(dir.path().string());
    for (const auto &a : args)
        cmd += " " + Quote(a);
    cmd += " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ToolRun r{-1, {}};
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class ConfigTool : public ::testing::Test {
protected:
    void SetUp() override {
        SetExecutableFolder(dir.path().string());
        ArrumaPortaRecorder::instance() = {};
        form.servico = true;
    }
    void TearDown() override { SetExecutableFolder(""); }
    TempDir dir;
    TFormPrincipal form;
};

TEST_F(ConfigTool, WrittenFileLoadsBackToTheValuesGiven) {
    const ToolRun r = Tool(dir,
                           {"--port",
                            "8080",
                            "--user",
                            "caixa",
                            "--password-stdin",
                            "--minimize",
                            "yes",
                            "--printer-kind",
                            "page",
                            "--printer",
                            "  Escritório ",
                            "--font-size=12",
                            "--bold",
                            "yes",
                            "--left-margin",
                            "0",
                            "--top-margin",
                            "999",
                            "--condensed",
                            "no",
                            "--cut",
                            "yes",
                            "--model",
                            " EPSON "},
                           "çãoz\n");
    ASSERT_EQ(r.status, 0) << r.output;
    form.carregaParametro();
    const auto s = form.Settings();
    EXPECT_EQ(s->Porta, "8080");
    EXPECT_EQ(s->Usuario, "CAIXA");
    EXPECT_EQ(s->Senha, "ÇÃOZ");
    EXPECT_EQ(s->Minimizar, "-1");
    EXPECT_EQ(s->op_impr, "2");
    EXPECT_EQ(s->vimpressora, "Escritório");
    EXPECT_EQ(s->fonte_tam, "12");
    EXPECT_EQ(s->negrito, "S");
    EXPECT_EQ(s->mesquerda, "0");
    EXPECT_EQ(s->msuperior, "999");
    EXPECT_EQ(s->condensa, "N");
    EXPECT_EQ(s->corta, "S");
    EXPECT_EQ(s->vtipo_impressora, "EPSON");
    EXPECT_EQ(ArrumaPortaRecorder::instance().ports, std::vector<std::string>{"8080"});

    // A later change keeps everything it does not name.
    ASSERT_EQ(Tool(dir, {"--printer-kind", "receipt", "--printer", "/dev/usb/lp0"}).status, 0);
    form.carregaParametro();
    EXPECT_EQ(form.Settings()->op_impr, "1");
    EXPECT_EQ(form.Settings()->vimpressora, "/dev/usb/lp0");
    EXPECT_EQ(form.Settings()->Senha, "ÇÃOZ");
    EXPECT_EQ(form.Settings()->msuperior, "999");
}

TEST_F(ConfigTool, ShowsSettingsWithoutThePassword) {
    ASSERT_EQ(Tool(dir, {"--password", "Segredo1"}).status, 0);
    const ToolRun shown = Tool(dir, {});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output.find("SEGREDO1"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("port:              211"), std::string::npos) << shown.output;
    const ToolRun clear = Tool(dir, {"--show-password"});
    EXPECT_NE(clear.output.find("SEGREDO1"), std::string::npos) << clear.output;
}

TEST_F(ConfigTool, RefusesWhatTheDialogRefuses) {
    ASSERT_EQ(Tool(dir, {"--port", "211"}).status, 0);
    const std::string before = readFile(dir.file("servidor.cfg"));
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--port", "0"}, "Esta Porta não é válida! (0 ~ 65536)"},
        {{"--port", "65537"}, "Esta Porta não é válida! (0 ~ 65536)"},
        {{"--port", "21a"}, "Digite apenas números."},
        {{"--port", "000211"}, "at most 5 digits"},
        {{"--port", ""}, "'' is not a valid integer value."},
        {{"--font-size", "2"}, "outside 3 to 20"},
        {{"--left-margin", "1000"}, "not a whole number from 0 to 999"},
        {{"--top-margin", "-1"}, "not a whole number"},
        {{"--bold", "talvez"}, "neither yes nor no"},
        {{"--printer-kind", "laser"}, "neither receipt nor page"},
        {{"--user", "a\nb"}, "control characters"},
        {{"--port", "8080", "--colour", "red"}, "unknown option '--colour'"},
        {{"--user"}, "needs a value"},
    };
    for (const auto &c : cases) {
        const ToolRun r = Tool(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args[0];
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(readFile(dir.file("servidor.cfg")), before) << c.args[0];
    }
    EXPECT_EQ(Tool(dir, {"--port", "65536"}).status, 0); // the dialog takes it too
}

TEST_F(ConfigTool, MissingFolderIsReported) {
    const ToolRun r = Tool(dir, {"--dir", dir.file("none"), "--port", "211"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("none/ is not a folder"), std::string::npos) << r.output;
}

TEST_F(ConfigTool, UnreadableFileIsReported) {
    std::filesystem::create_directory(dir.file("servidor.cfg"));
    const ToolRun r = Tool(dir, {"--port", "211"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("File access denied"), std::string::npos) << r.output;
}

// The administrator's database check loads the settings and SYS_INFO.INI as the
// service does and opens the Firebird database they name, with the stored
// account; its connection handlers run (Fiscal). A location that does not open
// is reported, with a failing exit status.
TEST_F(ConfigTool, DatabaseCheckOpensTheDatabaseOfTheSettings) {
    const std::string db =
        testutil::makeFirebirdDatabase(dir, "loja.fdb", "CREATE TABLE MDFE (ID INTEGER, NUMERO INTEGER);");
    ASSERT_EQ(Tool(dir, {"--port", "211", "--user", "sysdba", "--password", "x"}).status, 0);
    // An alias keeps the letter case of its path; a path in SYS_INFO.INI is upper-cased.
    testutil::writeFile(dir.file("aliases.ini"), "[LOJA]\nSERVER NAME=" + db + "\n");
    ::setenv("CORVANE_DB_ALIASES", dir.file("aliases.ini").c_str(), 1);
    testutil::writeFile(dir.file("SYS_INFO.INI"), "BASE_DE_DADOS=loja\r\n");
    const ToolRun ok = Tool(dir, {"--check-database"});
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_NE(ok.output.find("Database: " + db), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("Connected: yes"), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("Fiscal: True"), std::string::npos) << ok.output;

    testutil::writeFile(dir.file("SYS_INFO.INI"), "BASE_DE_DADOS=" + dir.file("none.fdb") + "\r\n");
    const ToolRun missing = Tool(dir, {"--check-database"});
    ::unsetenv("CORVANE_DB_ALIASES");
    EXPECT_EQ(missing.status, 1) << missing.output;
    EXPECT_NE(missing.output.find("Connected: no"), std::string::npos) << missing.output;
}

} // namespace

#endif
