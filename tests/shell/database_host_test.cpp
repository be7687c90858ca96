#include <gtest/gtest.h>

#include "../platform/db/firebird_test_db.h"
#include "uServerPrincipalDatabase.h"

namespace {

class RecordingView : public IFormPrincipalView {
public:
    std::vector<std::string> messages;
    void ShowMessage(const std::string &text) override { messages.push_back(text); }
    void SetPortLabel(const std::string &) override {}
    void ShowSettingsDialog() override {}
};

// The administrator's check, fed by the main window object: Base and the
// account come from it, and Fiscal lands in it.
TEST(DatabaseHost, CheckWritesFiscalIntoTheMainWindowObject) {
    testutil::TempDir dir;
    const std::string path =
        testutil::makeFirebirdDatabase(dir, "loja.fdb", "CREATE TABLE MDFE (ID INTEGER, NUMERO INTEGER);");
    TFormPrincipal form;
    TSettings s;
    s.Usuario = "CAIXA";
    form.ReplaceSettings(s);
    form.Base = path;
    TDatabaseCheck check = CheckDatabaseLink(DatabaseHostOf(form));
    EXPECT_TRUE(check.Connected) << check.Error;
    EXPECT_TRUE(form.Fiscal);
    EXPECT_EQ(check.Database, path);
}

TEST(DatabaseHost, MessagesGoThroughTheViewOnlyOnTheDesktop) {
    TFormPrincipal form;
    RecordingView view;
    TDatabaseHost host = DatabaseHostOf(form);
    host.ShowMessage("without a view"); // no view: nothing to show, nothing raised
    form.View = &view;
    host.ShowMessage("shown");
    EXPECT_EQ(view.messages, std::vector<std::string>{"shown"});
    EXPECT_FALSE(host.servico());
    form.servico = true;
    EXPECT_TRUE(host.servico());
    form.Base = "x.fdb";
    EXPECT_EQ(host.Base(), "x.fdb");
}

} // namespace
