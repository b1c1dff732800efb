// One real window takes every input line by line, as it would a night's
// traffic, logging; its state is checked against what the lines said.
#include "app/mainwindow.h"
#include "fuzzharness.h"
#include "protocol/sentences.h"

#include <QApplication>

using namespace tavix;

static MainWindow *window = nullptr;
static Gateway known = Gateway::None; // what the lines so far say, kept like the window
static int mode = 0;
static bool raw_mode = false, tx_limit_off = false;

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    // Qt's own arguments, as libFuzzer reads its flags later; never freed,
    // as the toolkit's clean-up at exit crashes with a window still open.
    static int qt_argc = 1;
    static char *qt_argv[] = { (*argv)[0], nullptr };
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(qt_argc, qt_argv);
    window = new MainWindow;
    window->setSaveNameAsker([] { return QString(); }); // a save is always cancelled
    window->show();
    return 0;
}

void fuzzOne(const QByteArray &input)
{
    window->start_logging();
    qint64 logged = 0;
    for (const QByteArray &piece : input.split('\n')) {
        const QByteArray line = piece + '\n';
        if (const Gateway g = identityOf(line); g != Gateway::None) {
            known = g;
            mode = (g == Gateway::Sernix ? sernixModeFromIdentity : torvelModeFromIdentity)(line);
        } else if (known != Gateway::None && (line[0] == '$' || line[0] == '!')) {
            ++logged;
            if (line.startsWith("$PHLV,000000,"))
                raw_mode = line.mid(13, 3) != ",,," && (raw_mode || mode == 15);
            tx_limit_off = line.startsWith("$PHLV,ACK,TX_LIMIT,OFF")
                || (tx_limit_off && !line.startsWith("$PHLV,ACK,TX_LIMIT,ON"));
        }
        window->process_line(line);
        const WindowState &st = window->state();
        CHECK(st.sernix_identified == (known == Gateway::Sernix) && st.raw_mode == raw_mode);
        CHECK(st.torvel_identified == (known == Gateway::Torvel) && st.log_lines.size() == logged);
        CHECK(st.conversion_mode == mode && st.tx_limit_off == tx_limit_off);
    }
    window->start_logging(); // and cancels the save
    QCoreApplication::processEvents(); // due timers fire and the window repaints
}
