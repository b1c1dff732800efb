// The CSV log: collecting received lines and saving them.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QMessageBox>

void MainWindow::start_logging()
{
    if (!st.logging_on) {
        ui->logStartStopButton->setText(QStringLiteral("LOG OFF"));
        setButtonColour(ui->logStartStopButton, Qt::red);
        st.logging_on = true;
        return;
    }
    ui->logStartStopButton->setText(QStringLiteral("LOG ON"));
    setButtonColour(ui->logStartStopButton, Qt::white);
    // Lines that come while the dialog is open are shown but not collected.
    st.logging_on = false;
    saveLog();
}

void MainWindow::saveLog()
{
    // A log that could not be written is kept and the user asked again,
    // until it is written or the user gives it up by cancelling.
    for (;;) {
        const QString file_name = save_name_asker();
        if (file_name.isEmpty())
            break;
        QString error;
        if (st.log_lines.writeTo(file_name, &error))
            break;
        QMessageBox::critical(this, tr("Error saving CSV file"),
                              tr("The log could not be written to %1:\n%2\n\nChoose another file, "
                                 "or cancel to discard the log.")
                                  .arg(QDir::toNativeSeparators(file_name), error));
    }
    st.log_lines.clear();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (st.logging_on)
        start_logging();
    event->accept();
}
