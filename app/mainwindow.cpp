#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accessibility.h"
#include "console/console.h"
#include "console/sentencesmodel.h"
#include "console/sentencesview.h"
#include "link/torvelendpoint.h"
#include "protocol/modes.h"
#include "settings/settingsdialog.h"

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QTcpSocket>
#include <QTimer>

static void initImages()
{
    // The image bundle lives in a static library, whose resource
    // registration the linker would otherwise drop. Registered once, as the
    // icon may be asked for before the window exists.
    static const bool registered = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    Q_UNUSED(registered);
}

static QList<tavix::SerialPortEntry> toolkitPorts()
{
    QList<tavix::SerialPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({ info.portName(), info.manufacturer() });
    return ports;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , statusLabel(new QLabel)
    , console(new Console)
    , sentences_view(new SentencesView)
    , sentences(sentences_view->model())
    , settings_dialog(new SettingsDialog)
    , serial(new QSerialPort(this))
    , port_lister(toolkitPorts)
    , save_name_asker([this] {
        return QFileDialog::getSaveFileName(this, tr("Save CSV file"), QStringLiteral("test.csv"),
                                            tr("CSV files (*.csv)"));
    })
    , torvel_host(QString::fromLatin1(tavix::torvel_address))
    , torvel_port(tavix::torvel_tcp_port)
{
    initImages();
    ui->setupUi(this);
    setWindowIcon(toolIcon());
    // Gateways' text is shown as it came, never read as rich text.
    statusLabel->setTextFormat(Qt::PlainText);
    ui->heartbeatLabelDataTab->setTextFormat(Qt::PlainText);
    ui->heartbeatLabelConfigTab->setTextFormat(Qt::PlainText);
    ui->statusBar->addWidget(statusLabel, 0);
    ui->dataBox->addWidget(console, 0);
    console->setEnabled(true);
#ifdef Q_OS_WIN
    // Windows' "Courier" is a bitmap font of three sizes; its scalable
    // Courier is "Courier New", which other systems know as "Courier" too.
    QFont console_font(QStringLiteral("Courier New"), 8, QFont::Light, true);
#else
    QFont console_font(QStringLiteral("Courier"), 8, QFont::Light, true);
#endif
    // The gateways' sentences are plain ASCII, which looks the same without
    // a pass through the text shaper; skipping it takes a tenth off the
    // cost of every line on a busy link. Scripts that need shaping still
    // get it.
    console_font.setStyleStrategy(QFont::PreferNoShaping);
    console->setFont(console_font);
    // A tab of its own after Data, made here rather than in the form.
    ui->tabWidget->addTab(sentences_view, tr("Sentences"));

    ui->SernixButton->setIcon(QIcon(QStringLiteral(":/images/sernix.png")));
    ui->SernixButton->setIconSize(QSize(217, 217));
    ui->TorvelButton->setIcon(QIcon(QStringLiteral(":/images/torvel.png")));
    ui->TorvelButton->setIconSize(QSize(283, 217));

    for (const tavix::ConversionMode &m : tavix::modeTable())
        ui->selectModeBox->addItem(QIcon(), tr(m.list_text));

    connect(ui->selectModeBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::showConversionList);
    connect(ui->changeModeButton, &QPushButton::clicked, this, &MainWindow::changeMode);
    connect(ui->restartButton, &QPushButton::clicked, this, &MainWindow::de_init_Gateway);
    connect(ui->restartButtonfromData, &QPushButton::clicked, this, &MainWindow::de_init_Gateway);
    connect(ui->tx_limitButtonConfigTab, &QPushButton::clicked, this, &MainWindow::send_tx_limit);
    connect(ui->tx_limitButtonDataTab, &QPushButton::clicked, this, &MainWindow::send_tx_limit);
    connect(ui->sendButtonDataTab, &QPushButton::clicked, this, &MainWindow::send_line);
    connect(ui->SernixButton, &QPushButton::clicked, this, &MainWindow::loadSernix);
    connect(ui->TorvelButton, &QPushButton::clicked, this, &MainWindow::loadTorvel);
    connect(ui->initButtonConfigTab, &QPushButton::clicked, this, &MainWindow::init_raw_mode);
    connect(ui->dataStartStopButton, &QPushButton::clicked, this, &MainWindow::start_stop_data);
    connect(ui->logStartStopButton, &QPushButton::clicked, this, &MainWindow::start_logging);

    // The serial port's signals are connected once for its whole life, so
    // that reopening it during the baud probe never calls a slot twice.
    connect(serial, &QSerialPort::readyRead, this, &MainWindow::readData);
    connect(serial, &QSerialPort::errorOccurred, this, &MainWindow::handleError);

    // The form's actions, offered in a menu so that the about box is
    // reachable and a product can be chosen again from the working page.
    QMenu *gateway_menu = menuBar()->addMenu(tr("&Gateway"));
    gateway_menu->addAction(ui->actionSernix);
    gateway_menu->addAction(ui->actionTorvel);
    QMenu *help_menu = menuBar()->addMenu(tr("&Help"));
    help_menu->addAction(ui->actionAbout);
    help_menu->addAction(ui->actionAboutQt);
    // From the menu the choice starts over from the selection page, where
    // a failed attempt leaves the user.
    connect(ui->actionSernix, &QAction::triggered, this, [this] {
        showInitDisplay();
        loadSernix();
    });
    connect(ui->actionTorvel, &QAction::triggered, this, [this] {
        showInitDisplay();
        loadTorvel();
    });
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::about);
    connect(ui->actionAboutQt, &QAction::triggered, qApp, &QApplication::aboutQt);

    // Told when it happens, not at save time; queued, so that the box's
    // event loop never runs inside the handling of a line.
    st.log_lines.setLossHandler([this] {
        QMetaObject::invokeMethod(this, &MainWindow::warnLogLoss, Qt::QueuedConnection);
    });

    // What a screen reader says for the controls that show no words of
    // their own.
    ui->SernixButton->setAccessibleName(tr("Connect to the Sernix (USB)"));
    ui->TorvelButton->setAccessibleName(tr("Connect to the Torvel (Wi-Fi)"));
    console->setAccessibleName(tr("Traffic"));
    ui->lineEditDataTab->setAccessibleName(tr("Line to send"));

    showConversionList();
    go_back_to_selectStackedWidget();

    // Last, so that they cover every page and tab built above.
    tavix::describeFromToolTips(this);
    tavix::orderFocusAsOnScreen(this);
}

MainWindow::~MainWindow()
{
    releaseTcpLink();
    closeSerialPort();
    delete settings_dialog;
    delete ui;
}

QIcon MainWindow::toolIcon()
{
    // An installed copy follows the desktop's icon theme, as its menu entry
    // does; a build run in place has only the bundle.
    initImages();
    QIcon bundled;
    for (int size : { 16, 32, 48, 64, 128, 256 })
        bundled.addFile(QStringLiteral(":/images/tavix-gateway-tool-%1.png").arg(size),
                        QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("tavix-gateway-tool"), bundled);
}

void MainWindow::prepareApplication()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Follow the desktop's scale factor: the form's fixed geometry and its
    // pictures are in device-independent pixels, so on a display scaled to
    // 200% they double instead of shrinking to half. Qt 6 always does.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    // The X11 platform of Qt 5 sets up OpenGL as it connects to the display,
    // which loads the Mesa driver and its LLVM compiler: more than half of
    // the tool's memory, for drawing it never does (its widgets are drawn on
    // the CPU). Qt 6 would load it at the first use, but there is none. A
    // user's own choice of integration stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

void MainWindow::setPortLister(PortLister lister)
{
    port_lister = std::move(lister);
}

void MainWindow::setTorvelEndpoint(const QString &host, quint16 port)
{
    torvel_host = host;
    torvel_port = port;
}

void MainWindow::setSaveNameAsker(SaveNameAsker asker)
{
    save_name_asker = std::move(asker);
}

void MainWindow::setStatusText(const QString &text)
{
    // The label tells screen readers of its new text itself.
    statusLabel->setText(text);
}

void MainWindow::setStatusAlert(const QString &text)
{
    setStatusText(text);
    // A failure is worth interrupting for, wherever the user is.
    QAccessibleEvent alert(statusLabel, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void MainWindow::startNewLink()
{
    // Whatever the earlier gateway told us, or the user told it, belongs to
    // that gateway: the new one starts from what a fresh start shows, and
    // the earlier link's pending timers come to nothing.
    ++link_generation;
    st.sernix_identified = false;
    st.torvel_identified = false;
    setRawMode(false);
    setTxLimitOff(false);
    setCommandMode(false);
    ui->heartbeatLabelConfigTab->clear();
    ui->heartbeatLabelDataTab->clear();
    sentences->setConversionMode(-1);
    sentences->clear();
}

void MainWindow::afterOnThisLink(int ms, void (MainWindow::*slot)())
{
    const quint64 generation = link_generation;
    QTimer::singleShot(ms, this, [this, generation, slot] {
        if (generation == link_generation)
            (this->*slot)();
    });
}

void MainWindow::go_back_to_selectStackedWidget()
{
    ui->stackedWidget->setCurrentIndex(0);
    if (serial->isOpen())
        serial->close();
    setStatusText(tr(" Select your product by clicking on Sernix or Torvel"));
}

void MainWindow::showInitDisplay()
{
    ui->stackedWidget->setCurrentIndex(0);
}

void MainWindow::about()
{
    QMessageBox::about(this, tr("About Tavix Gateway Tool v1.1 by Halvane"),
                       tr("<b>Tavix Gateway Tool for Sernix and Torvel by Yllenor<b>"));
}
