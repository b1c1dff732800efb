// The received-line handler of a real window on the offscreen platform.
// One window serves every input, as one window serves a whole night's
// traffic: each input is cut into lines at its line feeds and handed over in
// sequence, with logging on, and the window's state is checked against what
// the lines said.
#include "app/mainwindow.h"
#include "console/console.h"
#include "fuzzcheck.h"
#include "protocol/sentences.h"

#include <QApplication>
#include <QByteArray>
#include <QTextDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tavix;

namespace {

MainWindow *window = nullptr;
Console *console = nullptr;

// What the lines so far say the window's state must be. It outlives each
// input, like the window.
struct Expected
{
    Gateway identified = Gateway::None;
    int conversion_mode = 0;
    bool raw_mode = false;
    bool tx_limit_off = false;
};
Expected expected;

// Whether the line ends up in the log, with the model brought up to date.
bool follow(const QByteArray &line)
{
    const Gateway gateway = identityOf(line);
    if (gateway != Gateway::None) {
        expected.identified = gateway;
        expected.conversion_mode = gateway == Gateway::Sernix ? sernixModeFromIdentity(line)
                                                              : torvelModeFromIdentity(line);
        return false;
    }
    if (line.isEmpty() || (line.at(0) != '$' && line.at(0) != '!'))
        return false;
    if (expected.identified == Gateway::None)
        return false;
    if (line.startsWith("$PHLV,000000,")) {
        const bool empty = line.size() >= 16 && line.mid(13, 3) == ",,,";
        if (empty)
            expected.raw_mode = false;
        else if (expected.conversion_mode == 15)
            expected.raw_mode = true;
    } else if (line.startsWith("$PHLV,ACK,TX_LIMIT,OFF")) {
        expected.tx_limit_off = true;
    } else if (line.startsWith("$PHLV,ACK,TX_LIMIT,ON")) {
        expected.tx_limit_off = false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt gets its own argument list: libFuzzer reads its flags from argv
    // after this returns, and QApplication would take out any it knows.
    static int qt_argc = 1;
    static char *qt_argv[] = { (*argv)[0], nullptr };
    // Never destroyed: libFuzzer ends the process with exit(), and an
    // application object torn down by the exit handlers, with its window
    // still open, crashes in the toolkit's own clean-up.
    new QApplication(qt_argc, qt_argv);
    window = new MainWindow;
    // Stopping the log asks for a file name; the answer is always "cancel".
    window->setSaveNameAsker([] { return QString(); });
    window->show();
    console = window->findChild<Console *>();
    check(console != nullptr, "the window has its console");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));

    window->start_logging();
    check(window->state().logging_on && window->state().log_lines.isEmpty(), "logging started");
    qint64 logged = 0;
    int from = 0;
    while (from < input.size()) {
        const int nl = input.indexOf('\n', from);
        const int end = nl < 0 ? input.size() : nl + 1;
        const QByteArray line = input.mid(from, end - from);
        from = end;
        if (follow(line))
            ++logged;
        window->process_line(line);

        const WindowState &st = window->state();
        check(st.sernix_identified == (expected.identified == Gateway::Sernix),
              "Sernix flag follows the identity replies");
        check(st.torvel_identified == (expected.identified == Gateway::Torvel),
              "Torvel flag follows the identity replies");
        check(st.conversion_mode == expected.conversion_mode, "mode of the last identity reply");
        check(st.raw_mode == expected.raw_mode, "RAW-mode state follows the status sentences");
        check(st.tx_limit_off == expected.tx_limit_off, "TX limit follows its acknowledgements");
        check(st.log_lines.size() == logged, "every accepted sentence is logged, nothing else");
    }
    const QTextDocument *doc = console->document();
    check(doc->maximumBlockCount() > 0 && doc->blockCount() <= doc->maximumBlockCount(),
          "the console keeps its newest lines only");

    window->start_logging();
    check(!window->state().logging_on && window->state().log_lines.isEmpty(),
          "a cancelled save discards the log");
    // Due follow-up timers fire and the window repaints, as between reads.
    QCoreApplication::processEvents();
    return 0;
}
