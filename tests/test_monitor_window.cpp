// The monitor's window on real widgets: against a pseudo-terminal board that
// greets after its reset, and against the fake device on a port tree of the
// test's own, where boards come and go.
#include "ComComboBox.h"
#include "EventWait.h"
#include "FlashPanel.h"
#include "LineLeds.h"
#include "LogWriter.h"
#include "MonitorWindow.h"
#include "PtyBoard.h"
#include "Sender.h"
#include "StreamView.h"
#include "SysfsTree.h"
#include "fake/FakeComm.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace Comm;

// Every test starts from nothing remembered.
class Monitor : public testing::Test {
protected:
    void SetUp() override
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(MonitorSettingsFile());
    }
};

const QByteArray Greeting = "\xFF\r\nZORBEL datalogger v2.1 pr\xC3\xAAt\r\n";

TEST_F(Monitor, ShowsTheBoardsGreetingWithTimesEscapesAndHex)
{
    PtyPair pty;
    PtyBoard board(pty, Greeting);
    TMonitorOptions options;
    options.Port = QString::fromStdString(pty.Path());
    options.Timestamps = true;
    options.Hex = true;
    TMonitorWindow window(options);
    window.show();
    ASSERT_TRUE(RunEventsUntil([&] { return window.View().Text().contains("v2.1"); }, 5000))
        << window.Status().toStdString();
    EXPECT_EQ(board.Greetings(), 1);
    // The port box shows the port, though the machine's listing has no
    // pseudo-terminals.
    EXPECT_EQ(window.findChild<TComComboBox*>("selector0")->currentText(), options.Port);
    // At the window's own size the hex rows are whole, beside the text.
    QPlainTextEdit* hex = window.View().HexEdit();
    EXPECT_FALSE(hex->horizontalScrollBar()->isVisible());
    EXPECT_GE(hex->viewport()->width(), hex->fontMetrics().horizontalAdvance(window.View().Hex().section('\n', 0, 0)));
    EXPECT_GT(window.View().TextEdit()->width(), hex->width());
    const QStringList lines = window.View().Text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << window.View().Text().toStdString();
    const QString stamp = QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    EXPECT_TRUE(QRegularExpression(stamp + R"(\\xFF$)").match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(stamp + QString::fromUtf8("ZORBEL datalogger v2.1 pr\u00EAt$")).match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(window.View().HexVisible());
    EXPECT_TRUE(window.View().Hex().startsWith("00000000  FF 0D 0A 5A 4F 52 42 45  4C 20 64 61 74 61 6C 6F  |...ZORBEL datalo|"))
        << window.View().Hex().toStdString();

    // What the user types reaches the board with the ending chosen.
    window.findChild<QComboBox*>("ending")->setCurrentIndex(leCRLF);
    ASSERT_TRUE(window.SendLine("v?"));
    ASSERT_TRUE(window.SendHex("01 FF"));
    EXPECT_TRUE(RunEventsUntil([&] { return board.Received() == QByteArray("v?\r\n\x01\xFF"); }, 5000))
        << board.Received().toHex().toStdString();
}

TEST_F(Monitor, APortThatCannotBeOpenedIsReportedWithTheSystemsTextAndTheMonitorGoesOn)
{
    PtyPair pty;
    PtyBoard board(pty, Greeting);
    TMonitorOptions options;
    options.Port = QStringLiteral("/dev/zorbel-no-such-port");
    TMonitorWindow window(options);
    EXPECT_FALSE(window.OpenPort());
    EXPECT_TRUE(window.Status().contains("No such file or directory")) << window.Status().toStdString();
    window.Port().SetPortName(QString::fromStdString(pty.Path()));
    EXPECT_TRUE(window.OpenPort()) << window.Status().toStdString();
    EXPECT_TRUE(RunEventsUntil([&] { return window.View().Text().contains("v2.1"); }, 5000));
}

// The error box of a failing event handler.
class FailingReceiver : public QObject {
protected:
    bool event(QEvent*) override { throw std::runtime_error("handler failed"); }
};

TEST_F(Monitor, MessageBoxesBearTheMonitorsName)
{
    // As the monitor's main does, after the application object is made.
    const QString previous = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("zorbel-monitor"));
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->windowTitle();
            box->accept();
        }
    });
    FailingReceiver receiver;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &event);
    QCoreApplication::setApplicationName(previous);
    EXPECT_EQ(shown, "zorbel-monitor");
}

TEST_F(Monitor, AWrongOptionPrintsTheUsageAndExitsWith2)
{
    for (const QStringList& arguments : {QStringList{"--bogus"}, QStringList{"--flash", "9600"}, QStringList{"--speed"}}) {
        QProcess monitor;
        monitor.start(ZORBEL_MONITOR_PATH, arguments);
        ASSERT_TRUE(monitor.waitForFinished(10000));
        EXPECT_EQ(monitor.exitCode(), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(monitor.readAllStandardError().contains("Usage: zorbel-monitor"));
    }
}

// The machine's USB serial ports, a tree of the test's own made the default
// source; the ports open on the fake device under their names.
class Machine : public SysfsTree {
public:
    Machine()
    {
        previous_ = DefaultPortSource();
        SetDefaultPortSource(Source());
    }
    ~Machine() { SetDefaultPortSource(previous_); }

    void Plug(const QString& name, const QString& location, const QByteArray& serial)
    {
        const QString usb = "usb1/" + location;
        QDir(Path("devices/" + usb)).removeRecursively();
        UsbDevice(usb, "0403", "6001", "ftdi_sio");
        Attribute(usb, "serial", serial + "\n");
        const QString port = usb + "/" + location + ":1.0/" + name;
        Device(port, "usb-serial", "ftdi_sio");
        Tty(name, port);
    }

private:
    TPortSource previous_;
};

TEST_F(Monitor, ReconnectsToTheSameBoardWhenAnotherArrivesFirstAndTheLogMarksTheGap)
{
    Machine machine;
    machine.Plug("ttyUSB0", "1-1", "A1");
    TFakeCommLayer device;
    QTemporaryDir dir;
    const QString logPath = dir.filePath("board.log");
    TMonitorOptions options;
    options.Port = QStringLiteral("ttyUSB0");
    options.LogFile = logPath;
    TMonitorWindow window(options, device);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000)) << window.Status().toStdString();
    device.InjectBytes("before\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return window.View().Text().contains("before"); }, 5000));

    // The board resets: its port goes, another board is plugged in first.
    device.LoseDevice(5 /* EIO */);
    machine.RemoveTty("ttyUSB0");
    ASSERT_TRUE(RunEventsUntil([&] { return window.Waiter().Waiting(); }, 5000)) << window.Status().toStdString();
    EXPECT_TRUE(window.Status().contains("serial number A1")) << window.Status().toStdString();
    machine.Plug("ttyUSB1", "1-2", "B2");
    RunEventsFor(1500);
    EXPECT_FALSE(window.Port().Connected());
    EXPECT_TRUE(window.Waiter().Waiting());

    // The same board comes back under another name, in another socket.
    machine.Plug("ttyUSB2", "1-3", "A1");
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000)) << window.Status().toStdString();
    EXPECT_EQ(device.OpenedPaths(), (std::vector<std::string>{"ttyUSB0", "/dev/ttyUSB2"}));
    device.InjectBytes("logging\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return window.View().Text().contains("logging"); }, 5000));

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
    const QString stamp = QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    EXPECT_TRUE(QRegularExpression(stamp + "before$").match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(stamp + "--- ttyUSB0 lost .*serial number A1").match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(QRegularExpression(stamp + R"(--- /dev/ttyUSB2 open again after [\d.]+ s$)").match(lines[2]).hasMatch())
        << lines[2].toStdString();
    EXPECT_TRUE(QRegularExpression(stamp + "logging$").match(lines[3]).hasMatch()) << lines[3].toStdString();
}

TEST_F(Monitor, ABoardPickedWhileOpenIsTheOneAwaitedAfterALoss)
{
    Machine machine;
    machine.Plug("ttyUSB0", "1-1", "A1");
    machine.Plug("ttyUSB1", "1-2", "B2");
    TFakeCommLayer device;
    TMonitorOptions options;
    options.Port = QStringLiteral("ttyUSB0");
    TMonitorWindow window(options, device);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000)) << window.Status().toStdString();
    auto* ports = window.findChild<TComComboBox*>(QStringLiteral("selector0"));
    ASSERT_NE(ports, nullptr);
    const int row = ports->findText(QStringLiteral("/dev/ttyUSB1"));
    ASSERT_GE(row, 0) << "the second board is not listed";
    ports->setCurrentIndex(row);
    emit ports->activated(row);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000));
    device.LoseDevice(5 /* EIO */);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Waiter().Waiting(); }, 5000)) << window.Status().toStdString();
    EXPECT_TRUE(window.Status().contains("serial number B2")) << window.Status().toStdString();
}

TEST_F(Monitor, ThePortBoxShowsAnUnlistedPortAndOpensATypedPath)
{
    Machine machine;
    machine.Plug("ttyUSB0", "1-1", "A1");
    PtyPair pty;
    PtyBoard board(pty, Greeting);
    const QString ptyPath = QString::fromStdString(pty.Path());
    QTemporaryDir dir;
    const QString byId = dir.filePath("usb-ZORBEL_logger_A1-if00-port0");
    ASSERT_TRUE(QFile::link(ptyPath, byId));
    TMonitorWindow window{TMonitorOptions{}};
    auto* box = window.findChild<TComComboBox*>("selector0");
    ASSERT_NE(box, nullptr);
    QLineEdit* edit = box->lineEdit();
    ASSERT_NE(edit, nullptr);

    // Typed, then Open.
    edit->clear();
    QTest::keyClicks(edit, ptyPath);
    window.findChild<QPushButton*>("open")->click();
    ASSERT_TRUE(RunEventsUntil([&] { return window.View().Text().contains("v2.1"); }, 5000))
        << window.Status().toStdString();
    EXPECT_EQ(window.Port().Port(), ptyPath);
    EXPECT_EQ(box->currentText(), ptyPath);

    // A port arriving relists the box: it goes on showing the monitor's own.
    machine.Plug("ttyUSB1", "1-2", "B2");
    ASSERT_TRUE(RunEventsUntil([&] { return box->count() == 2; }, 5000));
    EXPECT_EQ(box->currentText(), ptyPath);

    // A link typed while the port is open, then Enter: the monitor moves there.
    edit->clear();
    QTest::keyClicks(edit, byId);
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000)) << window.Status().toStdString();
    EXPECT_EQ(window.Port().Port(), byId);
    EXPECT_EQ(box->currentText(), byId);
    pty.Write("through the link\r\n");
    EXPECT_TRUE(RunEventsUntil([&] { return window.View().Text().contains("through the link"); }, 5000));
    EXPECT_EQ(box->count(), 2) << "a typed name is not added to the machine's ports";
}

struct LedCase {
    const char* name;
    std::uint32_t status;
    std::uint32_t event;
    TLineLed led;
};

class MonitorLeds : public Monitor, public testing::WithParamInterface<LedCase> {};

TEST_P(MonitorLeds, FollowTheModemLines)
{
    TFakeCommLayer device;
    TMonitorOptions options;
    options.Port = QStringLiteral("ttyS0");
    TMonitorWindow window(options, device);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000));
    ASSERT_TRUE(device.WaitForPendingEventWait(5000));
    EXPECT_FALSE(window.Leds().Lit(GetParam().led));
    device.SetModemStatus(GetParam().status);
    device.SignalEvents(GetParam().event);
    EXPECT_TRUE(RunEventsUntil([&] { return window.Leds().Lit(GetParam().led); }, 5000));
    device.SetModemStatus(0);
    device.SignalEvents(GetParam().event);
    EXPECT_TRUE(RunEventsUntil([&] { return !window.Leds().Lit(GetParam().led); }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Monitor, MonitorLeds,
                         testing::Values(LedCase{"CTS", MsCtsOn, EvCts, llCTS}, LedCase{"DSR", MsDsrOn, EvDsr, llDSR},
                                         LedCase{"RLSD", MsRlsdOn, EvRlsd, llRLSD},
                                         LedCase{"RING", MsRingOn, EvRing, llRing}),
                         [](const testing::TestParamInfo<LedCase>& info) { return info.param.name; });

TEST_F(Monitor, ALineErrorLightsTheErrorLamp)
{
    TFakeCommLayer device;
    TMonitorOptions options;
    options.Port = QStringLiteral("ttyS0");
    TMonitorWindow window(options, device);
    ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000));
    ASSERT_TRUE(device.WaitForPendingEventWait(5000));
    device.InjectErrors(CeFrame);
    device.SignalEvents(EvErr);
    EXPECT_TRUE(RunEventsUntil([&] { return window.Leds().Lit(llError); }, 5000));
    EXPECT_TRUE(window.Status().contains("framing")) << window.Status().toStdString();
}

TEST_F(Monitor, OpensWithoutRaisingDTRWhenAskedNotToResetTheBoard)
{
    for (const bool noReset : {false, true}) {
        TFakeCommLayer device;
        TMonitorOptions options;
        options.Port = QStringLiteral("ttyS0");
        options.NoReset = noReset;
        TMonitorWindow window(options, device);
        ASSERT_TRUE(RunEventsUntil([&] { return window.Port().Connected(); }, 5000));
        const std::vector<TDCB> states = device.States();
        ASSERT_FALSE(states.empty());
        for (const TDCB& state : states)
            EXPECT_EQ((state.Flags & dcb_DtrControlMask) == DtrControlEnable, !noReset) << noReset;
        for (const std::uint32_t escape : device.Escapes())
            EXPECT_TRUE(!noReset || (escape != EscSetDtr && escape != EscSetRts)) << escape;
        window.ClosePort();
    }
}

} // namespace

namespace {

// The stand-in avrdude first on PATH, recording what it saw; the monitor
// started in a folder of the test's own.
class MonitorFlash : public Monitor {
protected:
    void SetUp() override
    {
        Monitor::SetUp();
        oldPath_ = qgetenv("PATH");
        oldDir_ = QDir::currentPath();
        qputenv("PATH", QByteArray(ZORBEL_STANDIN_DIR) + ":" + oldPath_);
        qputenv("ZORBEL_STANDIN_RECORD", QFile::encodeName(record_.filePath("record")));
        QDir::setCurrent(work_.path());
    }
    void TearDown() override
    {
        QDir::setCurrent(oldDir_);
        qputenv("PATH", oldPath_);
        qunsetenv("ZORBEL_STANDIN_RECORD");
        qunsetenv("ZORBEL_STANDIN_EXIT");
    }
    QStringList Record(const QString& key) const
    {
        QFile file(record_.filePath("record"));
        QStringList values;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.startsWith(key.toUtf8() + "="))
                    values << QString::fromLocal8Bit(line.mid(key.size() + 1));
        }
        return values;
    }

    QTemporaryDir work_;
    QTemporaryDir record_;
    QByteArray oldPath_;
    QString oldDir_;
};

struct FlashCase {
    const char* exit;
    const char* verdict;
};

TEST_F(MonitorFlash, ReleasesThePortForAvrdudeAndTakesItBackForTheBoardsFirstLine)
{
    const std::vector<FlashCase> cases = {
        {"0", "Mise à jour réussie — la carte répond : ZORBEL datalogger v3.0"},
        {"1", "Échec de la mise à jour — avrdude a terminé avec le code 1"},
    };
    for (const FlashCase& c : cases) {
        qputenv("ZORBEL_STANDIN_EXIT", c.exit);
        QFile::remove(record_.filePath("record"));
        PtyPair pty;
        PtyBoard board(pty, "");
        TMonitorOptions options;
        options.Port = QString::fromStdString(pty.Path());
        options.Flash = QStringLiteral("57600");
        options.LogFile = work_.filePath("board.log");
        TMonitorWindow window(options);
        QStringList verdicts;
        bool finished = false;
        QObject::connect(&window, &TMonitorWindow::FlashVerdictGiven, [&](const QString& v) { verdicts << v; });
        QObject::connect(&window.Flash(), &TFlashPanel::Finished, [&] { finished = true; });
        ASSERT_TRUE(RunEventsUntil([&] { return finished && window.Port().Connected(); }, 20000))
            << window.Status().toStdString() << window.Flash().Output().toStdString();
        // The flasher could open the port: the monitor had let go of it.
        EXPECT_EQ(Record("port"), QStringList{"opened"}) << c.exit;
        EXPECT_EQ(Record("cwd"), QStringList{work_.path()});
        EXPECT_TRUE(Record("arg").join(' ').contains("datalogger_new.hex")) << Record("arg").join(' ').toStdString();
        EXPECT_EQ(window.Flash().findChild<QProgressBar*>()->value(), 100);
        // The board restarts on its new firmware and says who it is.
        pty.Write("ZORBEL datalogger v3.0\r\n");
        ASSERT_TRUE(RunEventsUntil([&] { return !verdicts.isEmpty(); }, 20000)) << c.exit;
        RunEventsFor(100);
        EXPECT_EQ(verdicts, QStringList{QString::fromUtf8(c.verdict)});
        EXPECT_TRUE(window.Status().contains(QString::fromUtf8(c.verdict)));
        QFile log(options.LogFile);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("--- ") + QString::fromUtf8(c.verdict)));
    }
}

} // namespace
