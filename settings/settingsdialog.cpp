#include "settings/settingsdialog.h"

#include "ui_settingsdialog.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QSerialPort>

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SettingsDialog)
    , baud_validator(new QIntValidator(0, 4000000, this))
{
    ui->setupUi(this);

    // A typed rate is validated and read back through the item data; it must
    // never become a list entry of its own.
    ui->baudRateBox->setInsertPolicy(QComboBox::NoInsert);

    connect(ui->applyButton, &QPushButton::clicked, this, &SettingsDialog::apply);

    fillParameterBoxes();
    updateSettings();
}

SettingsDialog::~SettingsDialog() = default;

SerialSettings SettingsDialog::serialSettings() const
{
    return settings;
}

void SettingsDialog::showPortInfo(int idx)
{
    Q_UNUSED(idx)
}

void SettingsDialog::apply()
{
    updateSettings();
    hide();
}

void SettingsDialog::checkCustomBaudRatePolicy(int idx)
{
    // An item without a rate stands for "type your own".
    const bool custom = !ui->baudRateBox->itemData(idx).isValid();
    ui->baudRateBox->setEditable(custom);
    if (custom) {
        ui->baudRateBox->clearEditText();
        ui->baudRateBox->lineEdit()->setValidator(baud_validator);
    }
}

void SettingsDialog::checkCustomDevicePathPolicy(int idx)
{
    Q_UNUSED(idx)
}

void SettingsDialog::updateSettings()
{
    settings.baud = ui->baudRateBox->currentData().toInt();
    settings.baud_text = QString::number(settings.baud);

    settings.data_bits = ui->dataBitsBox->currentData().toInt();
    settings.data_bits_text = ui->dataBitsBox->currentText();

    settings.parity = ui->parityBox->currentData().toInt();
    settings.parity_text = ui->parityBox->currentText();

    settings.stop_bits = ui->stopBitsBox->currentData().toInt();
    settings.stop_bits_text = ui->stopBitsBox->currentText();

    settings.flow_control = ui->flowControlBox->currentData().toInt();
    settings.flow_control_text = ui->flowControlBox->currentText();

    settings.local_echo = ui->localEchoCheckBox->isChecked();
    settings.normal_mode = ui->NormalModeCheckBox->isChecked();
    settings.base64 = ui->Base64CheckBox->isChecked();
    settings.hide_nsm = ui->ShowNSMCheckBox->isChecked();
}

void SettingsDialog::readReply(QByteArray rx_str, QByteArray tx_str)
{
    Q_UNUSED(rx_str)
    Q_UNUSED(tx_str)
}

void SettingsDialog::fillParameterBoxes()
{
    // The Sernix runs at 115200 baud in its Full Mode, so that is the one rate
    // offered, and the text shown matches the value stored.
    ui->baudRateBox->addItem(QStringLiteral("115200"), QSerialPort::Baud115200);

    ui->dataBitsBox->addItem(QStringLiteral("8"), QSerialPort::Data8);

    ui->parityBox->addItem(tr("None"), QSerialPort::NoParity);
    ui->parityBox->addItem(tr("Even"), QSerialPort::EvenParity);
    ui->parityBox->addItem(tr("Odd"), QSerialPort::OddParity);
    ui->parityBox->addItem(tr("Mark"), QSerialPort::MarkParity);
    ui->parityBox->addItem(tr("Space"), QSerialPort::SpaceParity);

    ui->stopBitsBox->addItem(QStringLiteral("1"), QSerialPort::OneStop);
    ui->stopBitsBox->addItem(tr("1.5"), QSerialPort::OneAndHalfStop);
    ui->stopBitsBox->addItem(QStringLiteral("2"), QSerialPort::TwoStop);

    ui->flowControlBox->addItem(tr("None"), QSerialPort::NoFlowControl);
    ui->flowControlBox->addItem(tr("RTS/CTS"), QSerialPort::HardwareControl);
    ui->flowControlBox->addItem(tr("XON/XOFF"), QSerialPort::SoftwareControl);
}
