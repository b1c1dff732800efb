#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <memory>

QT_BEGIN_NAMESPACE
class QIntValidator;
namespace Ui {
class SettingsDialog;
}
QT_END_NAMESPACE

// Serial line parameters as chosen in the dialog. The int fields hold
// QSerialPort's enumeration codes so that a caller can cast them straight
// back; the texts are what the lists showed.
struct SerialSettings
{
    int baud = 0;
    QString baud_text;
    int data_bits = 0;
    QString data_bits_text;
    int parity = 0;
    QString parity_text;
    int stop_bits = 0;
    QString stop_bits_text;
    int flow_control = 0;
    QString flow_control_text;
    bool local_echo = false;
    bool normal_mode = false;
    bool base64 = false;
    bool hide_nsm = false;
};

// Serial line parameters and display options. The window keeps one instance
// for the whole run; the link itself opens with fixed parameters and probed
// baud rates, so nothing shows this dialog or reads its record yet.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    SerialSettings serialSettings() const;

public slots:
    void showPortInfo(int idx);
    void apply();
    void checkCustomBaudRatePolicy(int idx);
    void checkCustomDevicePathPolicy(int idx);
    void updateSettings();
    void readReply(QByteArray rx_str, QByteArray tx_str);

signals:
    void call_table_query();
    void call_send_rx_list();
    void call_reset();
    void call_config_serial();

private:
    void fillParameterBoxes();

    std::unique_ptr<Ui::SettingsDialog> ui;
    SerialSettings settings;
    QIntValidator *baud_validator = nullptr;
};
