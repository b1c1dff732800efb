#pragma once

#include "app/windowstate.h"
#include "link/lineframer.h"
#include "link/serialports.h"

#include <QByteArray>
#include <QMainWindow>
#include <QSerialPort>

#include <functional>

QT_BEGIN_NAMESPACE
class QIcon;
class QLabel;
class QPushButton;
class QTcpSocket;
class QThread;
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

class Console;
class SentencesModel;
class SentencesView;
class SettingsDialog;
class InfiniteCountWorker;

// The tool's one window: the product selection page and the working page
// that serves either gateway. Its slots are spread over the subsystem
// folders (protocol/, link/, console/), each file holding one concern.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The tool's icon: the installed icon theme's copy when there is one,
    // the bundled copy otherwise.
    static QIcon toolIcon();
    // What the tool sets before its application object exists.
    static void prepareApplication();

    // Seams for tests and developer tools; nothing a user can reach.
    using PortLister = std::function<QList<tavix::SerialPortEntry>()>;
    using SaveNameAsker = std::function<QString()>;
    void setPortLister(PortLister lister);
    void setTorvelEndpoint(const QString &host, quint16 port);
    void setSaveNameAsker(SaveNameAsker asker);

    const WindowState &state() const { return st; }

public slots:
    // Application shell
    void go_back_to_selectStackedWidget();
    void showInitDisplay();
    void about();

    // Command sentences and the send path
    void init_Gateway();
    void de_init_Gateway();
    void send_init_command();
    void send_init_command_allmode();
    void writeData(QByteArray data);
    void reset();
    void init_raw_mode();
    void send_iso_request();
    void send_error_request();
    void send_adiso_request();
    void send_rxtxlist_request(int address);
    void changeBaud();
    void start_stop_data();
    void send_restart_command();
    void send_show_devices();
    void send_tx_limit();
    void send_line();

    // Received lines
    void process_line(QByteArray buf);

    // Conversion modes
    void showConversionList();
    void changeMode();

    // Serial link
    void openSerialPort(int baud);
    void closeSerialPort();
    void readData();
    void loadSernix();
    void try_connect_sernix_4800();
    void try_connect_sernix_38400();
    void try_connect_sernix_230400();
    void try_connect_sernix_115200();
    void cant_connect_sernix();
    void try_bauds();
    void handleError(QSerialPort::SerialPortError error);

    // Network link
    void loadTorvel();
    void disconnected();
    void readyRead();
    void connected();

    // Count worker
    void updateInfiniteCount(int cnt);
    void startInfiniteCount();
    void infiniteCountFinished();

    // CSV log
    void start_logging();

signals:
    void repeatSec(int seconds);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setStatusText(const QString &text);
    void setStatusAlert(const QString &text);
    void startNewLink();
    // Each value a gateway's replies (or the user's commands) set changes
    // together with the buttons that show it.
    void setRawMode(bool on);
    void setTxLimitOff(bool off);
    void setCommandMode(bool on);
    void afterOnThisLink(int ms, void (MainWindow::*slot)());
    void probeStep(int baud, const QString &text, int next_step_ms, void (MainWindow::*next)());
    void handOnWaitingTcpLines();
    void releaseTcpLink();
    void stopCountWorker();
    void setButtonColour(QPushButton *button, const QColor &colour);
    void saveLog();
    void warnLogLoss();

    Ui::MainWindow *ui;
    QLabel *statusLabel;
    Console *console;
    SentencesView *sentences_view;
    SentencesModel *sentences; // sentences_view's
    SettingsDialog *settings_dialog;
    QSerialPort *serial;
    QTcpSocket *socket = nullptr;

    WindowState st;
    tavix::LineFramer serial_framer;
    tavix::LineFramer tcp_framer;
    quint64 link_generation = 0; // a new choice of product ends the older link's timers
    bool reading_serial = false;
    QThread *count_thread = nullptr;
    InfiniteCountWorker *count_worker = nullptr;

    PortLister port_lister;
    SaveNameAsker save_name_asker;
    QString torvel_host;
    quint16 torvel_port;
};
