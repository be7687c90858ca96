#include "uServerPrincipalWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include <stdexcept>

#include <unistd.h>

#include "printers.h"
#include "uServerConfigDialog.h"

namespace {

using C = FormPrincipalControl;

const QString kCaption = QStringLiteral("Corvane Datasnap Printer Server");

QString q(const std::string &s) { return QString::fromStdString(s); }

QFont tahoma(int points, bool bold = false) {
    QFont f(QStringLiteral("Tahoma"), points);
    f.setStyleHint(QFont::SansSerif);
    f.setBold(bold);
    return f;
}

// ---- the pictures of the buttons and of the tray icon, drawn here ----

QPixmap canvas(int size) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    return p;
}

// A cog wheel: the settings.
QIcon configIcon() {
    QPixmap p = canvas(96);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.translate(48, 48);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(0x4a, 0x5f, 0x7a));
    for (int i = 0; i < 8; ++i) {
        g.drawRoundedRect(QRectF(-8, -42, 16, 20), 3, 3);
        g.rotate(45);
    }
    g.drawEllipse(QPointF(0, 0), 30, 30);
    g.setBrush(Qt::white);
    g.drawEllipse(QPointF(0, 0), 12, 12);
    return QIcon(p);
}

// A power symbol in a disc: green to connect, red to disconnect.
QIcon powerIcon(const QColor &disc) {
    QPixmap p = canvas(96);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(Qt::NoPen);
    g.setBrush(disc);
    g.drawEllipse(QRectF(4, 4, 88, 88));
    QPen pen(Qt::white, 8, Qt::SolidLine, Qt::RoundCap);
    g.setPen(pen);
    g.setBrush(Qt::NoBrush);
    g.drawArc(QRectF(24, 26, 48, 48), 120 * 16, 300 * 16);
    g.drawLine(QPointF(48, 18), QPointF(48, 48));
    return QIcon(p);
}

// An open door with an arrow: leave the program.
QIcon exitIcon() {
    QPixmap p = canvas(64);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(0x55, 0x55, 0x55), 4));
    g.setBrush(QColor(0xe8, 0xe8, 0xe8));
    g.drawRect(QRectF(8, 6, 30, 52));
    g.setPen(QPen(QColor(0xc0, 0x30, 0x30), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.drawLine(QPointF(26, 32), QPointF(56, 32));
    g.drawLine(QPointF(46, 22), QPointF(56, 32));
    g.drawLine(QPointF(46, 42), QPointF(56, 32));
    return QIcon(p);
}

// A small printer with a sheet: the tray icon.
QIcon printerIcon() {
    QPixmap p = canvas(64);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(0x33, 0x33, 0x33), 3));
    g.setBrush(Qt::white);
    g.drawRect(QRectF(18, 6, 28, 22));
    g.setBrush(QColor(0x2f, 0x6f, 0xb0));
    g.drawRoundedRect(QRectF(6, 24, 52, 24), 5, 5);
    g.setBrush(Qt::white);
    g.drawRect(QRectF(18, 40, 28, 18));
    g.setPen(QPen(QColor(0x33, 0x33, 0x33), 2));
    g.drawLine(QPointF(23, 47), QPointF(41, 47));
    g.drawLine(QPointF(23, 52), QPointF(37, 52));
    return QIcon(p);
}

QLabel *label(QWidget *parent, const QString &text, const QFont &font, const QRect &geometry, bool grey = false) {
    auto *l = new QLabel(text, parent);
    l->setFont(font);
    l->setGeometry(geometry);
    if (grey)
        l->setStyleSheet(QStringLiteral("color: rgb(128, 128, 128);"));
    return l;
}

QToolButton *pictureButton(QWidget *parent, const QIcon &icon, const QRect &geometry, const QString &hint) {
    auto *b = new QToolButton(parent);
    b->setIcon(icon);
    b->setIconSize(QSize(geometry.width() - 16, geometry.height() - 16));
    b->setGeometry(geometry);
    b->setToolTip(hint);
    b->setAutoRaise(false);
    return b;
}

} // namespace

TFormPrincipalWindow::TFormPrincipalWindow(TFormPrincipal &form, QWidget *parent) : QWidget(parent), form_(form) {
    BuildForm();
    form_.View = this;
    form_.RefreshView();
}

TFormPrincipalWindow::~TFormPrincipalWindow() {
    if (form_.View == this)
        form_.View = nullptr;
    if (tray_)
        tray_->hide();
}

void TFormPrincipalWindow::BuildForm() {
    setWindowTitle(kCaption);
    setFixedSize(404, 401);
    setFont(tahoma(8));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setWindowIcon(printerIcon());

    auto *panel = new QWidget(this);
    panel->setGeometry(3, 3, 398, 395);
    panel->setToolTip(QStringLiteral("Acessa as configurações de IP, Porta, Usuário e Senha"));

    auto *config = new QGroupBox(QStringLiteral(" Configuração do Servidor "), panel);
    config->setFont(tahoma(12, true));
    config->setGeometry(5, 4, 388, 149);
    configuracao_ = pictureButton(config, configIcon(), QRect(12, 30, 106, 106),
                                  QStringLiteral("Acessar as configurações do servidor."));
    configuracao_->setObjectName(QStringLiteral("BitBtnConfiguracao"));
    label(config, QStringLiteral("IP"), tahoma(12, true), QRect(138, 32, 240, 22), true);
    controls_[C::LabelNumeroIP] = label(config, QString(), tahoma(16), QRect(138, 54, 240, 30));
    label(config, QStringLiteral("Porta"), tahoma(12, true), QRect(138, 86, 240, 22), true);
    controls_[C::LabelNumeroPorta] = label(config, QString(), tahoma(16), QRect(138, 108, 240, 30));

    auto *status = new QGroupBox(QStringLiteral(" Status do Servidor "), panel);
    status->setFont(tahoma(12, true));
    status->setGeometry(5, 160, 388, 149);
    auto *conectar = pictureButton(status, powerIcon(QColor(0, 128, 0)), QRect(12, 30, 103, 106),
                                   QStringLiteral("Clique aqui para conectar o servidor."));
    conectar->setObjectName(QStringLiteral("BitBtnConectar"));
    auto *desconectar = pictureButton(status, powerIcon(QColor(200, 0, 0)), QRect(12, 37, 103, 91),
                                      QStringLiteral("Clique aqui para desconectar o servidor."));
    desconectar->setObjectName(QStringLiteral("BitBtnDesconectar"));
    desconectar->hide();
    controls_[C::BitBtnConectar] = conectar;
    controls_[C::BitBtnDesconectar] = desconectar;
    label(status, QStringLiteral("Status"), tahoma(12, true), QRect(138, 52, 240, 22), true);
    auto *labelConectar = label(status, QStringLiteral("Desconectado"), tahoma(16), QRect(138, 76, 240, 30));
    labelConectar->setObjectName(QStringLiteral("LabelConectar"));
    controls_[C::LabelConectar] = labelConectar;

    auto *sair = new QPushButton(exitIcon(), QStringLiteral("Sair"), panel);
    sair->setFont(tahoma(16));
    sair->setIconSize(QSize(32, 32));
    sair->setGeometry(398 - 5 - 113, 395 - 8 - 55, 113, 55);
    sair->setObjectName(QStringLiteral("BitBtnSair"));
    sair_ = sair;

    popupMenu_ = new QMenu(this);
    abrir1_ = popupMenu_->addAction(QStringLiteral("Abrir"));
    popupMenu_->addSeparator();
    conectar1_ = popupMenu_->addAction(QStringLiteral("Conectar"));
    desconectar1_ = popupMenu_->addAction(QStringLiteral("Desconectar"));
    popupMenu_->addSeparator();
    sair1_ = popupMenu_->addAction(QStringLiteral("Sair"));
    abrir1_->setObjectName(QStringLiteral("Abrir1"));
    conectar1_->setObjectName(QStringLiteral("Conectar1"));
    desconectar1_->setObjectName(QStringLiteral("Desconectar1"));
    sair1_->setObjectName(QStringLiteral("Sair1"));

    tray_ = new QSystemTrayIcon(printerIcon(), this);
    tray_->setToolTip(kCaption);
    tray_->setContextMenu(popupMenu_);

    timer1_ = new QTimer(this);
    timer1_->setInterval(500);

    connect(configuracao_, &QAbstractButton::clicked, this, [this] { Run(&TFormPrincipal::BitBtnConfiguracaoClick); });
    connect(conectar, &QAbstractButton::clicked, this, [this] { Run(&TFormPrincipal::BitBtnConectarClick); });
    connect(desconectar, &QAbstractButton::clicked, this, [this] { Run(&TFormPrincipal::BitBtnDesconectarClick); });
    connect(sair, &QAbstractButton::clicked, this, [this] { Run(&TFormPrincipal::BitBtnSairClick); });
    connect(abrir1_, &QAction::triggered, this, [this] { Run(&TFormPrincipal::Abrir1Click); });
    connect(conectar1_, &QAction::triggered, this, [this] { Run(&TFormPrincipal::Conectar1Click); });
    connect(desconectar1_, &QAction::triggered, this, [this] { Run(&TFormPrincipal::Desconectar1Click); });
    connect(sair1_, &QAction::triggered, this, [this] { Run(&TFormPrincipal::Sair1Click); });
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            Run(&TFormPrincipal::TrayIcon1DblClick);
    });
    connect(timer1_, &QTimer::timeout, this, [this] { Run(&TFormPrincipal::Timer1Timer); });

    // Centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormPrincipalWindow::Run(void (TFormPrincipal::*handler)()) {
    form_.HandleEvent([this, handler] { (form_.*handler)(); });
}

QWidget *TFormPrincipalWindow::Control(FormPrincipalControl control) const {
    const auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second;
}

QAction *TFormPrincipalWindow::MenuItem(const QString &objectName) const {
    for (QAction *a : {abrir1_, conectar1_, desconectar1_, sair1_})
        if (a->objectName() == objectName)
            return a;
    return nullptr;
}

// ---- components ----

void TFormPrincipalWindow::ShowMessage(const std::string &text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), q(text), QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

void TFormPrincipalWindow::SetPortLabel(const std::string &caption) {
    SetCaption(C::LabelNumeroPorta, caption);
}

void TFormPrincipalWindow::ShowSettingsDialog() {
    auto printers = []() -> std::vector<std::string> {
        try {
            return printers::CupsPrinters().list().names;
        } catch (const std::exception &) {
            return {}; // no scheduler: the box still takes a typed name or path
        }
    };
    TServerConfigDialog dialog(form_.DSServer1(), printers, this);
    dialog.ShowModal();
    // The settings load shows the dialog again while there is no file; once
    // the program ends, no dialog can be shown any more.
    if (quitting_)
        throw std::runtime_error("the program is ending");
}

void TFormPrincipalWindow::RequestQuit() {
    quitting_ = true;
    QCoreApplication::quit();
}

void TFormPrincipalWindow::SetCaption(FormPrincipalControl control, const std::string &text) {
    if (auto *l = qobject_cast<QLabel *>(Control(control)))
        l->setText(q(text));
}

void TFormPrincipalWindow::SetFontColor(FormPrincipalControl control, TColor color) {
    QWidget *w = Control(control);
    if (!w)
        return;
    if (color == clWindowText)
        w->setStyleSheet(QString());
    else
        w->setStyleSheet(QStringLiteral("color: #%1;").arg(color, 6, 16, QLatin1Char('0')));
}

void TFormPrincipalWindow::SetVisible(FormPrincipalControl control, bool visible) {
    if (control == C::TrayIcon1)
        tray_->setVisible(visible);
    else if (QWidget *w = Control(control))
        w->setVisible(visible);
}

void TFormPrincipalWindow::SetEnabled(FormPrincipalControl control, bool enabled) {
    switch (control) {
    case C::Conectar1:
        conectar1_->setEnabled(enabled);
        break;
    case C::Desconectar1:
        desconectar1_->setEnabled(enabled);
        break;
    case C::Timer1:
        if (enabled)
            timer1_->start();
        else
            timer1_->stop();
        break;
    default:
        if (QWidget *w = Control(control))
            w->setEnabled(enabled);
    }
}

// ---- tray icon ----

void TFormPrincipalWindow::SetBalloonHint(const std::string &text) { balloonHint_ = q(text); }

void TFormPrincipalWindow::ShowBalloonHint() {
    tray_->showMessage(kCaption, balloonHint_, QSystemTrayIcon::NoIcon, 100);
}

bool TFormPrincipalWindow::TrayAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool TFormPrincipalWindow::AskYesNo(const std::string &text, const std::string &caption) {
    QMessageBox box(QMessageBox::Question, q(caption), q(text), QMessageBox::Yes | QMessageBox::No,
                    isVisible() ? this : nullptr);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

// ---- the window ----

void TFormPrincipalWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    // Only a real showing (not the window system giving back a minimised window).
    if (!event->spontaneous())
        Run(&TFormPrincipal::FormShow);
}

void TFormPrincipalWindow::closeEvent(QCloseEvent *event) {
    auto action = TFormPrincipal::TCloseAction::caFree;
    form_.HandleEvent([&] { form_.FormClose(action); });
    if (action == TFormPrincipal::TCloseAction::caNone) {
        event->ignore();
        return;
    }
    event->accept();
    tray_->hide();
    // The main window's closing ends the program, also when it sits in the tray.
    RequestQuit();
}

void TFormPrincipalWindow::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || settingState_ || !isMinimized() || !isVisible())
        return;
    // After the state change has settled, as the application's minimise event.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized() && isVisible())
            Run(&TFormPrincipal::ApplicationEvents1Minimize);
    });
}

void TFormPrincipalWindow::ShowWindow() { show(); }

void TFormPrincipalWindow::HideWindow() { hide(); }

void TFormPrincipalWindow::SetWindowState(TWindowState state) {
    settingState_ = true;
    if (state == TWindowState::wsMinimized)
        setWindowState(windowState() | Qt::WindowMinimized);
    else
        setWindowState(windowState() & ~Qt::WindowMinimized);
    settingState_ = false;
}

void TFormPrincipalWindow::BringToFront() {
    raise();
    activateWindow();
}

void TFormPrincipalWindow::CloseWindow() { close(); }

void TFormPrincipalWindow::RestoreApplication() {
    settingState_ = true;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    settingState_ = false;
    if (!isVisible())
        show();
}

// ---- activation socket ----

QString TFormPrincipalWindow::ActivationServerName() {
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return QDir(runtime).filePath(QStringLiteral("D10EDA"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("D10EDA-%1").arg(getuid()));
}

bool TFormPrincipalWindow::ActivationHookListening() const { return activation_ && activation_->isListening(); }

void TFormPrincipalWindow::InstallActivationHook() {
    const QString name = ActivationServerName();
    // The lock tells a socket left by a crashed instance (removed here) from
    // the one of an instance still running (kept: that one answers the name).
    activationLock_ = std::make_unique<QLockFile>(name + QStringLiteral(".lock"));
    activationLock_->setStaleLockTime(0);
    if (!activationLock_->tryLock(0)) {
        qWarning("D10EDA: another instance of this user answers %s", qPrintable(name));
        activationLock_.reset();
        return;
    }
    QLocalServer::removeServer(name);
    activation_ = new QLocalServer(this);
    activation_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!activation_->listen(name)) {
        qWarning("D10EDA: cannot listen on %s: %s", qPrintable(name), qPrintable(activation_->errorString()));
        return;
    }
    connect(activation_, &QLocalServer::newConnection, this, &TFormPrincipalWindow::AnswerActivation);
}

void TFormPrincipalWindow::AnswerActivation() {
    while (QLocalSocket *peer = activation_->nextPendingConnection()) {
        long answer = 0;
        form_.HandleEvent([&] { answer = form_.ActivationWindowProc(); });
        peer->write(QByteArray::number(static_cast<qlonglong>(answer)));
        peer->flush();
        peer->disconnectFromServer();
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        if (peer->state() == QLocalSocket::UnconnectedState)
            peer->deleteLater();
    }
}
