#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include <cstdlib>
#include <filesystem>

#include "servidor_cfg.h"
#include "temp_dir.h"
#include "uScramble.h"
#include "uServerConfigDialog.h"

namespace {

using C = ServerConfigControl;
using testutil::TempDir;

// One application for the whole executable, on the offscreen platform unless
// another one (e.g. xcb under Xvfb) is asked for.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "gui_tests";
        static char *argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setApplicationDisplayName(QStringLiteral("CorvaneDSPrinter"));
    }
    void TearDown() override { delete app_; }

private:
    QApplication *app_ = nullptr;
};
const auto *const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        SetExecutableFolder(dir.path().string());
        dialog = std::make_unique<TServerConfigDialog>(
            TServerConfigServer{[this] { return started; }, [this] { calls.push_back("Stop"); },
                                [this] { calls.push_back("Start"); }},
            [] {
                return std::vector<std::string>{"PDF", "Escritório"};
            },
            nullptr, [] { return std::string("10.0.0.7"); });
        dialog->errorBox = [this](const QString &text) { errors.push_back(text.toStdString()); };
    }
    void TearDown() override { SetExecutableFolder(""); }

    template <class W> W *Get(C control) { return qobject_cast<W *>(dialog->Control(control)); }

    TempDir dir;
    bool started = false;
    std::vector<std::string> calls, errors;
    std::unique_ptr<TServerConfigDialog> dialog;
};

TEST_F(Dialog, FormAsDesigned) {
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Configurações do Servidor"));
    EXPECT_EQ(dialog->size(), QSize(414, 515));
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    QStringList groups;
    for (auto *g : dialog->findChildren<QGroupBox *>())
        groups << g->title();
    EXPECT_EQ(groups,
              (QStringList{QString::fromUtf8(" Dados do Servidor "), QString::fromUtf8(" Dados da Impressão")}));
    EXPECT_EQ(Get<QLineEdit>(C::EditPorta)->maxLength(), 5);
    EXPECT_EQ(Get<QLineEdit>(C::EditSenha)->echoMode(), QLineEdit::Password);
    const struct {
        C spin;
        int min, max, value;
    } spins[] = {{C::SpinEdit1, 3, 20, 11}, {C::SpinEdit2, 0, 999, 10}, {C::SpinEdit3, 0, 999, 10}};
    for (const auto &s : spins) {
        auto *box = Get<QSpinBox>(s.spin);
        EXPECT_EQ(box->minimum(), s.min);
        EXPECT_EQ(box->maximum(), s.max);
        EXPECT_EQ(box->value(), s.value);
    }
    auto *tipo = Get<QComboBox>(C::Tipo_impressora);
    QStringList models;
    for (int i = 0; i < tipo->count(); ++i)
        models << tipo->itemText(i);
    EXPECT_EQ(models, (QStringList{"BEMATECH", "CONTROL_ID", "DARUMA", "DIEBOLD", "EPSON", "FEASSO", " "}));
    EXPECT_EQ(tipo->currentText(), "");
    EXPECT_EQ(dialog->Control(C::Panel2)->y(), 129);
    EXPECT_EQ(dialog->Control(C::Panel3)->y(), 129);
}

TEST_F(Dialog, ShowFillsFromNoFileAndListsPrinters) {
    dialog->FormShow();
    EXPECT_EQ(Get<QLabel>(C::LabelNumeroIP)->text(), "10.0.0.7");
    EXPECT_EQ(Get<QLineEdit>(C::EditPorta)->text(), "211");
    EXPECT_TRUE(Get<QRadioButton>(C::RadioButton1)->isChecked());
    EXPECT_EQ(Get<QLabel>(C::Label3)->text(), "Caminho Impressora:");
    EXPECT_FALSE(dialog->Control(C::Panel2)->isVisibleTo(dialog.get()));
    EXPECT_TRUE(dialog->Control(C::Panel3)->isVisibleTo(dialog.get()));
    auto *printers = Get<QComboBox>(C::ComboBox1);
    ASSERT_EQ(printers->count(), 3);
    EXPECT_EQ(printers->itemText(1), QString::fromUtf8("Escritório"));
    EXPECT_EQ(printers->itemText(2), " ");
    EXPECT_EQ(printers->currentText(), ""); // the list leaves the text alone

    QTest::mouseClick(Get<QRadioButton>(C::RadioButton2), Qt::LeftButton);
    EXPECT_EQ(Get<QLabel>(C::Label3)->text(), "Nome Impressora:");
    EXPECT_TRUE(dialog->Control(C::Panel2)->isVisibleTo(dialog.get()));
    EXPECT_FALSE(dialog->Control(C::Panel3)->isVisibleTo(dialog.get()));
}

TEST_F(Dialog, PortBoxTakesDigitsOnly) {
    dialog->FormShow();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    auto *porta = Get<QLineEdit>(C::EditPorta);
    porta->setFocus();
    porta->setCursorPosition(3);
    QTest::keyClicks(porta, "0a");
    EXPECT_EQ(porta->text(), "2110");
    EXPECT_EQ(errors, std::vector<std::string>{"Digite apenas números."});
    QTest::keyClick(porta, Qt::Key_Backspace);
    EXPECT_EQ(porta->text(), "211");
    EXPECT_EQ(errors.size(), 1u);

    porta->setText("0");
    Get<QLineEdit>(C::EditUsuario)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(errors.back(), "Esta Porta não é válida! (0 ~ 65536)");
}

TEST_F(Dialog, ApplyWritesAndClosesCancelWritesNothing) {
    dialog->FormShow();
    dialog->show();
    QTest::mouseClick(qobject_cast<QPushButton *>(dialog->BitBtnCancelar()), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted); // closed
    EXPECT_FALSE(std::filesystem::exists(dir.file("servidor.cfg")));

    dialog->show();
    Get<QLineEdit>(C::EditUsuario)->setText("caixa");
    Get<QComboBox>(C::ComboBox1)->setCurrentIndex(2); // the blank item
    Get<QComboBox>(C::Tipo_impressora)->setCurrentIndex(4);
    Get<QSpinBox>(C::SpinEdit1)->setValue(50); // kept within the range
    started = true;
    QTest::mouseClick(qobject_cast<QPushButton *>(dialog->BitBtnAplicar()), Qt::LeftButton);
    EXPECT_TRUE(errors.empty());
    const ServidorCfgLines l = ReadServidorCfg(dir.file("servidor.cfg"));
    EXPECT_EQ(unscramble(l[0]), "211");
    EXPECT_EQ(unscramble(l[1]), "CAIXA");
    EXPECT_EQ(l[5], "");
    EXPECT_EQ(l[6], "20");
    EXPECT_EQ(l[12], "EPSON");
    EXPECT_EQ(calls, (std::vector<std::string>{"Stop", "Start"})); // no earlier file: access changed
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(Dialog, UnreadableFileIsReportedInsteadOfShowing) {
    std::filesystem::create_directory(dir.file("servidor.cfg"));
    EXPECT_EQ(dialog->ShowModal(), QDialog::Rejected);
    EXPECT_EQ(errors, std::vector<std::string>{"File access denied."});
}

// With CORVANE_SHOT=<file.png> set, saves a picture of the dialog as shown.
TEST_F(Dialog, Screenshot) {
    const char *shot = std::getenv("CORVANE_SHOT");
    if (!shot)
        GTEST_SKIP() << "CORVANE_SHOT not set";
    testutil::writeFile(dir.file("servidor.cfg"), "9MLL\r\n2IGO^G\r\n5b\xD8\r\n36:\r\n1\r\n/dev/usb/lp0\r\n12\r\nN\r\n"
                                                  "10\r\n10\r\nS\r\nS\r\nEPSON\r\n");
    dialog->FormShow();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    QTest::qWait(200);
    const auto grab = [&] {
        return QApplication::platformName() == "offscreen" ? dialog->grab() : dialog->screen()->grabWindow(0);
    };
    ASSERT_TRUE(grab().save(QString::fromLocal8Bit(shot)));
    // The same dialog with the page printer chosen, beside it.
    QTest::mouseClick(Get<QRadioButton>(C::RadioButton2), Qt::LeftButton);
    QTest::qWait(100);
    QString pagePath = QString::fromLocal8Bit(shot);
    pagePath.insert(pagePath.lastIndexOf('.'), "-page");
    ASSERT_TRUE(grab().save(pagePath));
}

} // namespace
