#include "uServerConfigDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>

using C = ServerConfigControl;

namespace {

// A whole-number spin box whose text length is limited like the original's.
class SpinEdit : public QSpinBox {
public:
    SpinEdit(QWidget *parent, SpinEditRange range, int value) : QSpinBox(parent) {
        setRange(range.MinValue, range.MaxValue);
        setValue(value);
        lineEdit()->setMaxLength(range.MaxLength);
    }
};

QString Q(const std::string &s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString &s) {
    return s.toUtf8().toStdString();
}

QLabel *Label(QWidget *parent, const char *caption, int left, int top) {
    auto *label = new QLabel(QString::fromUtf8(caption), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

} // namespace

TServerConfigDialog::TServerConfigDialog(TServerConfigServer server, TFormServerConfig::PrinterList printers,
                                         QWidget *parent, TFormServerConfig::AddressSource localAddress)
    : QDialog(parent) {
    errorBox = [this](const QString &text) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), text, QMessageBox::Ok);
    };
    BuildForm();
    form_ = std::make_unique<TFormServerConfig>(*this, std::move(server), std::move(printers), std::move(localAddress));
    form_->FormCreate();
}

TServerConfigDialog::~TServerConfigDialog() {
    // The port box outlives the logic while the base class deletes the children.
    controls_.at(C::EditPorta)->removeEventFilter(this);
}

void TServerConfigDialog::BuildForm() {
    setWindowTitle(QString::fromUtf8("Configurações do Servidor"));
    // Fixed border with only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(414, 515);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(9);
    setFont(font);

    // Server data.
    auto *server = new QGroupBox(QString::fromUtf8(" Dados do Servidor "), this);
    server->setGeometry(8, 8, 398, 132);
    Label(server, "IP", 16, 26);
    auto *ip = Label(server, "254.254.254.254", 96, 26);
    ip->setMinimumWidth(200);
    Label(server, "Porta", 16, 54);
    auto *porta = new QLineEdit(QStringLiteral("211"), server);
    porta->setGeometry(96, 50, 64, 22);
    porta->setMaxLength(kEditPortaMaxLength);
    porta->installEventFilter(this);
    auto *hint = Label(server, "(Padrão 211)", 168, 55);
    QFont small = hint->font();
    small.setPointSize(7);
    hint->setFont(small);
    hint->setStyleSheet(QStringLiteral("color: gray"));
    hint->adjustSize();
    Label(server, "Usuário", 16, 82);
    auto *usuario = new QLineEdit(server);
    usuario->setGeometry(96, 78, 200, 22);
    Label(server, "Senha", 16, 110);
    auto *senha = new QLineEdit(server);
    senha->setGeometry(96, 104, 200, 22);
    senha->setEchoMode(QLineEdit::Password);
    senha->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"

    // Printing data.
    auto *printing = new QGroupBox(QString::fromUtf8(" Dados da Impressão"), this);
    printing->setGeometry(8, 148, 398, 246);
    auto *radio1 = new QRadioButton(QString::fromUtf8("Impressora Térmica"), printing);
    radio1->move(16, 26);
    radio1->adjustSize();
    radio1->setChecked(true);
    auto *radio2 = new QRadioButton(QString::fromUtf8("Impressora A4 (Gráfica)"), printing);
    radio2->move(200, 26);
    radio2->adjustSize();
    auto *label3 = Label(printing, "Impressora:", 16, 62);
    label3->setMinimumWidth(200);
    auto *combo1 = new QComboBox(printing);
    combo1->setEditable(true);
    combo1->setInsertPolicy(QComboBox::NoInsert);
    combo1->setGeometry(16, 82, 366, 24);

    // Page printer options.
    auto *panel2 = new QWidget(printing);
    panel2->setGeometry(8, 129, 382, 110);
    panel2->hide();
    Label(panel2, "Tamanho da Fonte:", 8, 6);
    auto *spin1 = new SpinEdit(panel2, SpinRange(C::SpinEdit1), 11);
    spin1->setGeometry(130, 2, 56, 24);
    auto *bold = new QCheckBox(QStringLiteral("Negrito"), panel2);
    bold->move(210, 5);
    bold->adjustSize();
    Label(panel2, "Margens:", 8, 40);
    Label(panel2, "Esquerda:", 24, 70);
    auto *spin2 = new SpinEdit(panel2, SpinRange(C::SpinEdit2), 10);
    spin2->setGeometry(96, 66, 64, 24);
    Label(panel2, "Superior:", 190, 70);
    auto *spin3 = new SpinEdit(panel2, SpinRange(C::SpinEdit3), 10);
    spin3->setGeometry(258, 66, 64, 24);

    // Receipt printer options.
    auto *panel3 = new QWidget(printing);
    panel3->setGeometry(8, 129, 382, 110);
    auto *condensa = new QCheckBox(QStringLiteral("Condensar"), panel3);
    condensa->move(8, 5);
    condensa->adjustSize();
    auto *cortar = new QCheckBox(QStringLiteral("Cortar"), panel3);
    cortar->move(130, 5);
    cortar->adjustSize();
    Label(panel3, "Tipo da Impressora:", 8, 40);
    auto *tipo = new QComboBox(panel3);
    tipo->setEditable(true);
    tipo->setInsertPolicy(QComboBox::NoInsert);
    tipo->setGeometry(8, 60, 200, 24);
    for (const auto &item : TipoImpressoraItems())
        tipo->addItem(Q(item));
    tipo->setEditText(QString());

    auto *minimizar = new QCheckBox(QStringLiteral("Minimizar na bandeja"), this);
    minimizar->move(16, 402);
    minimizar->adjustSize();

    auto *aplicar =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("&Aplicar"), this);
    aplicar->setGeometry(16, 436, 180, 64);
    aplicar->setIconSize(QSize(32, 32));
    auto *cancelar =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("&Cancelar"), this);
    cancelar->setGeometry(218, 436, 180, 64);
    cancelar->setIconSize(QSize(32, 32));
    aplicar->setAutoDefault(false);
    cancelar->setAutoDefault(false);
    aplicar_ = aplicar;
    cancelar_ = cancelar;

    controls_ = {{C::LabelNumeroIP, ip},
                 {C::EditPorta, porta},
                 {C::EditUsuario, usuario},
                 {C::EditSenha, senha},
                 {C::CheckBoxMinimizar, minimizar},
                 {C::RadioButton1, radio1},
                 {C::RadioButton2, radio2},
                 {C::Label3, label3},
                 {C::ComboBox1, combo1},
                 {C::Panel2, panel2},
                 {C::Panel3, panel3},
                 {C::SpinEdit1, spin1},
                 {C::CheckBox1, bold},
                 {C::SpinEdit2, spin2},
                 {C::SpinEdit3, spin3},
                 {C::CheckCondensa, condensa},
                 {C::CheckCortar, cortar},
                 {C::Tipo_impressora, tipo}};

    connect(radio1, &QRadioButton::clicked, this, [this] { form_->Handle([this] { form_->RadioButton1Click(); }); });
    connect(radio2, &QRadioButton::clicked, this, [this] { form_->Handle([this] { form_->RadioButton2Click(); }); });
    connect(aplicar, &QPushButton::clicked, this, [this] { form_->Handle([this] { form_->BitBtnAplicarClick(); }); });
    connect(cancelar, &QPushButton::clicked, this, [this] { form_->Handle([this] { form_->BitBtnCancelarClick(); }); });
}

int TServerConfigDialog::ShowModal() {
    if (!form_->Handle([this] { form_->FormShow(); }))
        return QDialog::Rejected;
    return exec();
}

void TServerConfigDialog::FormShow() {
    form_->FormShow();
}

bool TServerConfigDialog::eventFilter(QObject *watched, QEvent *event) {
    const auto porta = controls_.find(C::EditPorta);
    if (form_ && porta != controls_.end() && watched == porta->second) {
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            char32_t code = 0;
            if (key->key() == Qt::Key_Backspace)
                code = 8;
            else if (!key->text().isEmpty() && key->text().at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier))
                code = key->text().toUcs4().value(0);
            // Keys that type no character (arrows, Delete, shortcuts) keep their usual meaning.
            if (code != 0 && !form_->Handle([&] { form_->EditPortaKeyPress(code); }))
                return true; // the character is not entered
        } else if (event->type() == QEvent::FocusOut) {
            // Only leaving for another control of the dialog counts, not another window taking over.
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                form_->Handle([this] { form_->EditPortaExit(); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TServerConfigDialog::showEvent(QShowEvent *event) {
    // Centred on the screen, whoever owns the dialog.
    if (QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

QWidget *TServerConfigDialog::Control(ServerConfigControl control) const {
    return controls_.at(control);
}
QWidget *TServerConfigDialog::BitBtnAplicar() const {
    return aplicar_;
}
QWidget *TServerConfigDialog::BitBtnCancelar() const {
    return cancelar_;
}

std::string TServerConfigDialog::Text(ServerConfigControl control) const {
    QWidget *w = controls_.at(control);
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return S(edit->text());
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return S(combo->currentText());
    if (auto *label = qobject_cast<QLabel *>(w))
        return S(label->text());
    return {};
}

void TServerConfigDialog::SetText(ServerConfigControl control, const std::string &text) {
    QWidget *w = controls_.at(control);
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        edit->setText(Q(text));
    else if (auto *combo = qobject_cast<QComboBox *>(w))
        combo->setEditText(Q(text));
    else if (auto *label = qobject_cast<QLabel *>(w))
        label->setText(Q(text));
}

bool TServerConfigDialog::Checked(ServerConfigControl control) const {
    if (auto *button = qobject_cast<QAbstractButton *>(controls_.at(control)))
        return button->isChecked();
    return false;
}

void TServerConfigDialog::SetChecked(ServerConfigControl control, bool checked) {
    if (auto *button = qobject_cast<QAbstractButton *>(controls_.at(control)))
        button->setChecked(checked);
}

int TServerConfigDialog::Value(ServerConfigControl control) const {
    auto *spin = qobject_cast<QSpinBox *>(controls_.at(control));
    if (!spin)
        return 0;
    spin->interpretText(); // a value still being typed counts
    return spin->value();
}

void TServerConfigDialog::SetValue(ServerConfigControl control, int value) {
    if (auto *spin = qobject_cast<QSpinBox *>(controls_.at(control)))
        spin->setValue(value);
}

void TServerConfigDialog::SetVisible(ServerConfigControl control, bool visible) {
    controls_.at(control)->setVisible(visible);
}

void TServerConfigDialog::SetTop(ServerConfigControl control, int top) {
    QWidget *w = controls_.at(control);
    w->move(w->x(), top);
}

void TServerConfigDialog::AddItem(ServerConfigControl control, const std::string &item) {
    if (auto *combo = qobject_cast<QComboBox *>(controls_.at(control))) {
        const QString text = combo->currentText(); // adding an item must not change the text
        combo->addItem(Q(item));
        combo->setEditText(text);
    }
}

void TServerConfigDialog::Close() {
    accept();
}

void TServerConfigDialog::ShowError(const std::string &text) {
    if (errorBox)
        errorBox(Q(text));
}
