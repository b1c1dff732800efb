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
        const tavix::CsvLog::Save result = st.log_lines.writeTo(file_name, &error);
        if (result == tavix::CsvLog::Save::Written)
            break;
        if (result == tavix::CsvLog::Save::LogUnreadable) {
            // No other file would fare better.
            QMessageBox::critical(this, tr("Error saving CSV file"),
                                  tr("The log could not be read back from its temporary file:\n"
                                     "%1\n\nThe lines logged are lost.")
                                      .arg(error));
            break;
        }
        QMessageBox::critical(this, tr("Error saving CSV file"),
                              tr("The log could not be written to %1:\n%2\n\nChoose another file, "
                                 "or cancel to discard the log.")
                                  .arg(QDir::toNativeSeparators(file_name), error));
    }
    st.log_lines.clear();
}

void MainWindow::warnLogLoss()
{
    QMessageBox::warning(
        this, tr("Log incomplete"),
        tr("Lines are being lost from the CSV log: the temporary folder %1 takes no more of them "
           "and the memory set aside for them is full.\n\nFree some disk space there to keep "
           "the lines still to come, or press LOG OFF to save the lines kept so far.")
            .arg(QDir::toNativeSeparators(QDir::tempPath())));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (st.logging_on)
        start_logging();
    event->accept();
}
