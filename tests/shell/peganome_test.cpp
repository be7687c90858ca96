#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include "executable_dir.h"
#include "temp_dir.h"
#include "uServerPrincipal.h"

namespace {

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

class RecordingView : public IFormPrincipalView {
public:
    std::vector<std::string> messages;
    void ShowMessage(const std::string &text) override { messages.push_back(text); }
    void SetPortLabel(const std::string &) override {}
    void ShowSettingsDialog() override {}
};

// peganome reads SYS_INFO.INI beside the executable, so each case runs in a copy
// of this test program placed in a fresh folder. Started with
// CORVANE_PEGANOME_PROBE=<report file>, the copy runs peganome before any test
// and writes what it saw: outcome, Base, Destino, Dir, current directory and the
// messages shown, one per line.
int runProbeIfAsked() {
    const char *report = std::getenv("CORVANE_PEGANOME_PROBE");
    if (!report)
        return 0;
    TFormPrincipal form;
    RecordingView view;
    form.View = &view;
    form.servico = std::getenv("PROBE_SERVICO") != nullptr;
    form.Base = "earlier base";
    form.Destino = "earlier destino";
    std::string outcome = "ok";
    try {
        form.peganome();
    } catch (const std::exception &e) {
        outcome = std::string("error: ") + e.what();
    }
    std::ofstream out(report, std::ios::binary);
    out << outcome << '\n' << form.Base << '\n' << form.Destino << '\n' << form.Dir << '\n' << os::currentDir() << '\n';
    for (auto &m : view.messages)
        out << m << '\n';
    out.close();
    _exit(0);
}
const int probeRan = runProbeIfAsked();

struct ProbeResult {
    std::string outcome, Base, Destino, Dir, cwd;
    std::vector<std::string> messages;
};

// Copies this program into `dir`, starts it there from another working folder
// with the given environment additions, and reads its report.
ProbeResult runProbe(const TempDir &dir, const std::vector<std::pair<std::string, std::string>> &env = {}) {
    (void)probeRan;
    const fs::path exe = dir.path() / "probe";
    fs::copy_file(os::executablePath(), exe, fs::copy_options::overwrite_existing);
    TempDir elsewhere;
    const std::string report = elsewhere.file("report.txt");
    pid_t pid = fork();
    if (pid == 0) {
        if (::chdir(elsewhere.path().c_str()) != 0)
            _exit(3);
        setenv("CORVANE_PEGANOME_PROBE", report.c_str(), 1);
        unsetenv("CORVANE_DB_ALIASES");
        for (auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
        _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status;
    std::istringstream in(readFile(report));
    ProbeResult r;
    std::getline(in, r.outcome);
    std::getline(in, r.Base);
    std::getline(in, r.Destino);
    std::getline(in, r.Dir);
    std::getline(in, r.cwd);
    for (std::string m; std::getline(in, m);)
        r.messages.push_back(m);
    return r;
}

const std::string kPrefix = "[SISTEMA]BASE="; // any 14 characters
const std::string kNoMessage;
const std::string kBadParams = "Parametros incorretos para procurar dados da base de dados.";

struct LocationCase {
    const char *name;
    std::string sysInfo; // file contents (bytes)
    std::string aliases; // aliases.ini beside the program; empty: no file
    std::string Base;    // expected
    std::string Destino; // expected
    std::string message; // expected message, or empty for none
};

class PeganomeLocation : public ::testing::TestWithParam<LocationCase> {};

TEST_P(PeganomeLocation, ReadsBaseAndDestino) {
    const auto &c = GetParam();
    TempDir dir;
    writeFile(dir.file("SYS_INFO.INI"), c.sysInfo);
    if (!c.aliases.empty())
        writeFile(dir.file("aliases.ini"), c.aliases);
    ProbeResult r = runProbe(dir);
    EXPECT_EQ(r.outcome, "ok");
    EXPECT_EQ(r.Base, c.Base);
    EXPECT_EQ(r.Destino, c.Destino);
    EXPECT_EQ(r.Dir, dir.path().string() + "/");
    EXPECT_EQ(r.cwd, dir.path().string());
    if (c.message.empty())
        EXPECT_TRUE(r.messages.empty());
    else
        EXPECT_EQ(r.messages, std::vector<std::string>{c.message});
}

const std::string kLojaAlias = "[LOJA]\r\nSERVER NAME=srv:c:\\db\\loja.gdb\r\nUSER NAME=SYSDBA\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, PeganomeLocation,
    ::testing::Values(
        LocationCase{"GdbPath", kPrefix + "c:\\dados\\empresa.gdb\r\n", kLojaAlias, "C:\\DADOS\\EMPRESA.GDB",
                     "C:\\DADOS\\EMPRESA.GDB", kNoMessage},
        LocationCase{"FdbInside", kPrefix + "d:\\bases\\loja.fdb.old", "", "D:\\BASES\\LOJA.FDB.OLD",
                     "D:\\BASES\\LOJA.FDB.OLD", kNoMessage},
        LocationCase{"MdbPathNeedsNoAliasFile", kPrefix + "  \t/dados/x.mdb  \r\nLOJA\r\n", "", "/DADOS/X.MDB",
                     "/DADOS/X.MDB", kNoMessage},
        // Only a to z are upper-cased: the Windows-1252 byte for e-acute stays lower case.
        LocationCase{"AccentedLettersKeepCase", kPrefix + "/b/caf\xE9.fdb\n", "", "/B/CAF\xC3\xA9.FDB",
                     "/B/CAF\xC3\xA9.FDB", kNoMessage},
        LocationCase{"AliasServerName", kPrefix + "loja\r\n", kLojaAlias, "srv:c:\\db\\loja.gdb", "LOJA", kNoMessage},
        LocationCase{"AliasNameIgnoresCaseInTheStore", kPrefix + "LOJA\r\n", "[Loja]\nSERVER NAME=a.fdb\n", "a.fdb",
                     "LOJA", kNoMessage},
        LocationCase{"DatabaseNameAfterServerNameWins", kPrefix + "LOJA\r\n",
                     "[LOJA]\nSERVER NAME=srv:/a.gdb\nDATABASE NAME=/b.fdb\n", "/b.fdb", "LOJA", kNoMessage},
        LocationCase{"ServerNameAfterDatabaseNameWins", kPrefix + "LOJA\r\n",
                     "[LOJA]\nDATABASE NAME=/b.fdb\nSERVER NAME=srv:/a.gdb\n", "srv:/a.gdb", "LOJA", kNoMessage},
        LocationCase{"ParameterNamesKeepTheirCase", kPrefix + "LOJA\r\n", "[LOJA]\nserver name=/a.fdb\n", "", "LOJA",
                     kNoMessage},
        LocationCase{"ValueCutTo100Characters", kPrefix + "LOJA\r\n",
                     "[LOJA]\nSERVER NAME=" + std::string(100, 'v') + "TAIL\n", std::string(100, 'v'), "LOJA",
                     kNoMessage},
        LocationCase{"OtherSectionsDoNotCount", kPrefix + "LOJA\r\n",
                     "[OUTRA]\nSERVER NAME=/o.fdb\n[LOJA]\nUSER NAME=X\n[MAIS]\nSERVER NAME=/m.fdb\n", "", "LOJA",
                     kNoMessage},
        LocationCase{"UndefinedAlias", kPrefix + "NOPE\r\n", kLojaAlias, "", "NOPE", kNoMessage},
        LocationCase{"NoAliasStore", kPrefix + "LOJA\r\n", "", "", "LOJA", kNoMessage},
        LocationCase{"EmptyFile", "", kLojaAlias, "", "", kBadParams},
        LocationCase{"ShortLine", "only 13 chars\r\n", kLojaAlias, "", "", kBadParams},
        LocationCase{"BlankAfterPrefix", kPrefix + " \t \r\nLOJA\r\n", kLojaAlias, "", "", kBadParams},
        // 300 characters from the 15th: ".FDB" just past them is not seen.
        LocationCase{"LocationCutAt300", kPrefix + std::string(300, 'x') + ".FDB", "", "", std::string(300, 'X'),
                     kNoMessage}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Peganome, MissingFileRaisesAfterChangingFolder) {
    TempDir dir;
    ProbeResult r = runProbe(dir);
    EXPECT_EQ(r.outcome, "error: File not found");
    EXPECT_EQ(r.Base, "earlier base");
    EXPECT_EQ(r.Destino, "earlier destino");
    EXPECT_EQ(r.Dir, dir.path().string() + "/");
    EXPECT_EQ(r.cwd, dir.path().string());
}

TEST(Peganome, ServiceModeShowsNoMessage) {
    TempDir dir;
    writeFile(dir.file("SYS_INFO.INI"), "");
    ProbeResult r = runProbe(dir, {{"PROBE_SERVICO", "1"}});
    EXPECT_EQ(r.outcome, "ok");
    EXPECT_TRUE(r.messages.empty());
}

TEST(Peganome, AliasStoreFromEnvironment) {
    TempDir dir, store;
    writeFile(dir.file("SYS_INFO.INI"), kPrefix + "LOJA\n");
    writeFile(dir.file("aliases.ini"), "[LOJA]\nSERVER NAME=/beside.fdb\n");
    writeFile(store.file("elsewhere.ini"), "[LOJA]\nSERVER NAME=/elsewhere.fdb\n");
    ProbeResult r = runProbe(dir, {{"CORVANE_DB_ALIASES", store.file("elsewhere.ini")}});
    EXPECT_EQ(r.Base, "/elsewhere.fdb");
}

// GetAliasParam on its own, with the store named by the environment.
class GetAliasParamTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(store.file("aliases.ini"), "; comment\n[LOJA]\n  DATABASE NAME = /d.fdb \nUSER NAME=ana\n"
                                             "SERVER NAME=/s\xC3\xA9.fdb\nUSER NAME=" +
                                                 std::string(99, 'u') + "\xC3\xA9\xC3\xA9\n");
        setenv("CORVANE_DB_ALIASES", store.file("aliases.ini").c_str(), 1);
        form.View = &view;
    }
    void TearDown() override { unsetenv("CORVANE_DB_ALIASES"); }
    TempDir store;
    TFormPrincipal form;
    RecordingView view;
};

TEST_F(GetAliasParamTest, TakesLastMatchingLine) {
    EXPECT_EQ(form.GetAliasParam("LOJA", "SERVER NAME"), "/s\xC3\xA9.fdb");
    // 100 characters, not bytes: the cut falls after the first two-byte letter.
    EXPECT_EQ(form.GetAliasParam("LOJA", "USER NAME"), std::string(99, 'u') + "\xC3\xA9");
    // DATABASE NAME stands in only for SERVER NAME.
    EXPECT_EQ(form.GetAliasParam("LOJA", "DATABASE NAME"), "/d.fdb");
    EXPECT_EQ(form.GetAliasParam("LOJA", "PASSWORD"), "");
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(GetAliasParamTest, EmptyNamesShowMessageOnlyOnDesktop) {
    EXPECT_EQ(form.GetAliasParam("", "SERVER NAME"), "");
    EXPECT_EQ(form.GetAliasParam("LOJA", ""), "");
    EXPECT_EQ(view.messages, (std::vector<std::string>{kBadParams, kBadParams}));
    form.servico = true;
    EXPECT_EQ(form.GetAliasParam("", ""), "");
    EXPECT_EQ(view.messages.size(), 2u);
    form.servico = false;
    form.View = nullptr;
    EXPECT_EQ(form.GetAliasParam("", ""), "");
}

} // namespace
