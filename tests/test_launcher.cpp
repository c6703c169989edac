// The FLASH action: the parameter line, its splitting into arguments, and
// real flasher processes started from the window.
#include "CommandLine.h"
#include "ComComboBox.h"
#include "ComPortNames.h"
#include "FlashCommand.h"
#include "FlashLauncher.h"
#include "ProcessStarter.h"
#include "TForm1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(FlashCommand, ParameterLineOfTheSevenPieces)
{
    EXPECT_EQ(FlashParameterLine("COM9", "57600"), " -c arduino -p m328p -P COM9 -b 57600 -U flash:w:datalogger_new.hex:i");
    EXPECT_EQ(FlashParameterLine("COM1", "28800"), " -c arduino -p m328p -P COM1 -b 28800 -U flash:w:datalogger_old.hex:i");
    EXPECT_EQ(FlashParameterLine("COM1", ""), " -c arduino -p m328p -P COM1 -b  -U flash:w::i");
    EXPECT_EQ(FlashParameterLine("", "57600"), " -c arduino -p m328p -P  -b 57600 -U flash:w:datalogger_new.hex:i");
}

TEST(FlashCommand, ImageByExactSpeedText)
{
    EXPECT_EQ(FirmwareImageForSpeed("57600"), "datalogger_new.hex");
    EXPECT_EQ(FirmwareImageForSpeed("28800"), "datalogger_old.hex");
    for (const char* other : {"57600 ", " 28800", "", "9600", "２8800"})
        EXPECT_EQ(FirmwareImageForSpeed(QString::fromUtf8(other)), "") << other;
}

TEST(CommandLine, SplitByTheWindowsRules)
{
    using Args = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine(" -c arduino -p m328p -P  -b  -U flash:w::i"),
              Args({"-c", "arduino", "-p", "m328p", "-P", "-b", "-U", "flash:w::i"}));
    EXPECT_EQ(SplitCommandLine("a \"b c\" d"), Args({"a", "b c", "d"}));
    EXPECT_EQ(SplitCommandLine("\"\""), Args({""}));
    EXPECT_EQ(SplitCommandLine("a\\\\\"b c\" d"), Args({"a\\b c", "d"}));
    EXPECT_EQ(SplitCommandLine("a\\\"b"), Args({"a\"b"}));
    EXPECT_EQ(SplitCommandLine("C:\\dir\\file"), Args({"C:\\dir\\file"}));
    EXPECT_EQ(SplitCommandLine("\"a \"\"quoted\"\" word\""), Args({"a \"quoted\" word"}));
    EXPECT_EQ(SplitCommandLine("x;rm -rf /"), Args({"x;rm", "-rf", "/"})) << "no shell sees the line";
    EXPECT_EQ(SplitCommandLine("   "), Args{});
}

// A flasher of the test's own, first on PATH: it reports its working
// directory and arguments, one record per start, through a named pipe.
class FakeFlasher {
public:
    FakeFlasher()
    {
        EXPECT_TRUE(dir.isValid());
        const QString fifo = dir.filePath("record.fifo");
        EXPECT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Opened before any writer, so a writer never blocks and never misses it.
        reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        keepOpen = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        QFile script(dir.filePath("avrdude"));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "line=\"$(pwd)\"\n"
                     "for a in \"$@\"; do line=\"$line|$a\"; done\n"
                     "printf '%s\\n' \"$line\" > \"$(dirname \"$0\")/record.fifo\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.path()) + ":" + oldPath);
    }
    // A stand-in terminal on PATH too, recording what it was given.
    void AddTerminal()
    {
        QFile script(dir.filePath("x-terminal-emulator"));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "line=terminal\n"
                     "for a in \"$@\"; do line=\"$line|$a\"; done\n"
                     "printf '%s\\n' \"$line\" > \"$(dirname \"$0\")/record.fifo\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    ~FakeFlasher()
    {
        qputenv("PATH", oldPath);
        ::close(reader);
        ::close(keepOpen);
    }

    // The next record, waiting at most timeoutMs for it.
    QString NextRecord(int timeoutMs = 10000)
    {
        while (!pending.contains('\n')) {
            pollfd p{reader, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) != 1)
                return {};
            char chunk[512];
            const ssize_t n = ::read(reader, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            pending.append(chunk, n);
        }
        const qsizetype end = pending.indexOf('\n');
        const QString record = QString::fromLocal8Bit(pending.left(end));
        pending.remove(0, end + 1);
        return record;
    }

    QTemporaryDir dir;
    int reader = -1;
    int keepOpen = -1;
    QByteArray oldPath;
    QByteArray pending;
};

class FlashButton : public testing::Test {
protected:
    FlashButton()
    {
        QDir(ports.path()).mkpath("tty/ttyUSB0/device");
        previousPorts = DefaultPortSource();
        SetDefaultPortSource(TPortSource{ports.path() + "/tty", "/dev"});
        form = std::make_unique<TForm1>();
        speeds = form->findChild<QComboBox*>("ComboBox1");
        button = form->findChild<QPushButton*>("Button1");
        previousDir = QDir::currentPath();
        QDir::setCurrent(workDir.path());
    }
    ~FlashButton() override
    {
        QDir::setCurrent(previousDir);
        SetDefaultPortSource(previousPorts);
    }

    // Clicks FLASH and closes (and records) any message box it shows.
    QStringList ClickCollectingMessageBoxes()
    {
        QStringList boxes;
        std::function<void()> closeBoxes = [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << QString("%1|%2|%3|%4")
                             .arg(box->windowTitle(), box->text())
                             .arg(box->icon() == QMessageBox::NoIcon ? "no icon" : "icon")
                             .arg(box->buttons().size());
                box->accept();
            }
        };
        QTimer::singleShot(0, closeBoxes);
        button->click();
        QApplication::processEvents();
        return boxes;
    }

    QTemporaryDir ports;
    QTemporaryDir workDir;
    TPortSource previousPorts;
    QString previousDir;
    std::unique_ptr<TForm1> form;
    QComboBox* speeds = nullptr;
    QPushButton* button = nullptr;
};

TEST_F(FlashButton, StartsTheFlasherWithTheExactArguments)
{
    FakeFlasher flasher;
    const QString cwd = QDir::currentPath();
    speeds->setCurrentIndex(0);
    EXPECT_TRUE(ClickCollectingMessageBoxes().isEmpty()) << "success shows nothing";
    EXPECT_EQ(flasher.NextRecord(),
              cwd + "|-c|arduino|-p|m328p|-P|/dev/ttyUSB0|-b|57600|-U|flash:w:datalogger_new.hex:i");
    speeds->setCurrentIndex(1);
    ClickCollectingMessageBoxes();
    EXPECT_EQ(flasher.NextRecord(),
              cwd + "|-c|arduino|-p|m328p|-P|/dev/ttyUSB0|-b|28800|-U|flash:w:datalogger_old.hex:i");
}

TEST_F(FlashButton, NoSpeedAndNoPortStillStartTheFlasher)
{
    FakeFlasher flasher;
    const QString cwd = QDir::currentPath();
    ClickCollectingMessageBoxes();
    EXPECT_EQ(flasher.NextRecord(), cwd + "|-c|arduino|-p|m328p|-P|/dev/ttyUSB0|-b|-U|flash:w::i");
    form->findChild<TComComboBox*>("ComboBox2")->setCurrentIndex(-1);
    ClickCollectingMessageBoxes();
    EXPECT_EQ(flasher.NextRecord(), cwd + "|-c|arduino|-p|m328p|-P|-b|-U|flash:w::i");
}

TEST_F(FlashButton, EachClickStartsAnotherFlasherAndLeavesNoZombie)
{
    FakeFlasher flasher;
    speeds->setCurrentIndex(0);
    ClickCollectingMessageBoxes();
    ClickCollectingMessageBoxes();
    EXPECT_FALSE(flasher.NextRecord().isEmpty());
    EXPECT_FALSE(flasher.NextRecord().isEmpty());
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the tool keeps no child of its own";
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(FlashButton, MissingFlasherShowsOneMessageBoxWithTheSystemText)
{
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(workDir.path()));
    const QStringList boxes = ClickCollectingMessageBoxes();
    qputenv("PATH", oldPath);
    EXPECT_EQ(boxes, QStringList{QString("zorbel-flash|No such file or directory|no icon|1")});
}

TEST(FlashTerminal, TheTerminalGetsTheHelperTheFlasherAndEachArgumentApart)
{
    FakeFlasher flasher;
    flasher.AddTerminal();
    const QString line = FlashParameterLine("/dev/ttyUSB0", "57600");
    ASSERT_EQ(StartFlasher(line, true, ZORBEL_REPORT_HELPER_PATH), 0);
    EXPECT_EQ(flasher.NextRecord(), QString("terminal|-e|%1|%2|-c|arduino|-p|m328p|-P|/dev/ttyUSB0|-b|57600|-U|"
                                            "flash:w:datalogger_new.hex:i")
                                        .arg(ZORBEL_REPORT_HELPER_PATH, flasher.dir.filePath("avrdude")));
    // Without a helper the terminal runs the flasher itself; without a
    // terminal the flasher runs alone.
    ASSERT_EQ(StartFlasher(line, true, ""), 0);
    EXPECT_TRUE(flasher.NextRecord().startsWith("terminal|-e|" + flasher.dir.filePath("avrdude") + "|-c|arduino"));
    ASSERT_EQ(StartFlasher(line, false, ZORBEL_REPORT_HELPER_PATH), 0);
    EXPECT_TRUE(flasher.NextRecord().endsWith("|-c|arduino|-p|m328p|-P|/dev/ttyUSB0|-b|57600|-U|flash:w:datalogger_new.hex:i"));
}

TEST(FlashTerminal, TheReportHelperIsFoundBesideTheToolOrWhereItIsInstalled)
{
    QTemporaryDir root;
    const QString bin = root.filePath("bin");
    QDir().mkpath(bin);
    EXPECT_EQ(FindReportHelper(bin), "") << "no helper anywhere";
    const QString installed = root.filePath("libexec/zorbel-flash/zorbel-flash-run");
    QDir().mkpath(QFileInfo(installed).path());
    ASSERT_TRUE(QFile::copy(ZORBEL_REPORT_HELPER_PATH, installed));
    EXPECT_EQ(QString::fromStdString(FindReportHelper(bin)), QFileInfo(installed).absoluteFilePath());
    const QString beside = bin + "/zorbel-flash-run";
    ASSERT_TRUE(QFile::copy(ZORBEL_REPORT_HELPER_PATH, beside));
    EXPECT_EQ(QString::fromStdString(FindReportHelper(bin)), QFileInfo(beside).absoluteFilePath());
}

// What a program prints of what it inherited: its open descriptors, its
// blocked and its ignored signals. The listing runs in a child of the
// shell, so it shows the shell's descriptors rather than its own; the
// signals are read by the shell's own process once it became grep, since
// the shell blocks every signal for a moment while it starts a child.
const char* const InheritanceReport = "ls /proc/$$/fd; exec grep -E '^Sig(Blk|Ign)' /proc/self/status";
const QString CleanInheritance = "0\n1\n2\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n";

// Started as carelessly as some desktops start programs (child signals
// and SIGUSR1 ignored, SIGUSR2 blocked, descriptor 57 left open) and in a
// process group of its own, as a terminal runs its foreground job.
void StartCarelessly(QProcess& helper, const QStringList& flasher)
{
    helper.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::dup2(1, 57);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGCHLD, &ignore, nullptr);
        ::sigaction(SIGUSR1, &ignore, nullptr);
        sigset_t blocked;
        ::sigemptyset(&blocked);
        ::sigaddset(&blocked, SIGUSR2);
        ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");
    helper.setProcessEnvironment(environment);
    helper.start(ZORBEL_REPORT_HELPER_PATH, flasher);
}

TEST(FlashReport, TheLastLineTellsTheOutcomeAndWaitsForEnter)
{
    struct Case {
        QStringList flasher;
        bool interrupt; // Ctrl-C to the terminal's job once the flasher said "ready"
        QString flasherOutput;
        int exitCode;
        QString outcome;
    };
    const Case cases[] = {
        {{"/bin/true"}, false, "", 0, "Mise à jour réussie (code de sortie 0)."},
        {{"/bin/sh", "-c", "echo flashing; exit 3"}, false, "flashing\n", 3, "Échec de la mise à jour (code de sortie 3)."},
        {{"/nonexistent/avrdude"}, false, "", 127,
         "Échec de la mise à jour : impossible de lancer /nonexistent/avrdude (No such file or directory)."},
        {{"/bin/sh", "-c", "echo ready; exec sleep 30"}, true, "ready\n", 130,
         "Échec de la mise à jour (arrêt par le signal 2)."},
        {{"/bin/sh", "-c", InheritanceReport}, false, CleanInheritance, 0, "Mise à jour réussie (code de sortie 0)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flasher.join(' ').toStdString());
        QProcess helper;
        StartCarelessly(helper, c.flasher);
        ASSERT_TRUE(helper.waitForStarted(10000));
        if (c.interrupt) {
            ASSERT_TRUE(helper.waitForReadyRead(10000)) << "the flasher never said it was ready";
            ::kill(-static_cast<pid_t>(helper.processId()), SIGINT);
        }
        // The window stays until Enter is pressed.
        EXPECT_FALSE(helper.waitForFinished(300)) << "the helper ended without waiting for Enter";
        helper.write("\n");
        ASSERT_TRUE(helper.waitForFinished(10000));
        EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit) << "the helper did not outlive the flasher";
        EXPECT_EQ(helper.exitCode(), c.exitCode);
        EXPECT_EQ(QString::fromUtf8(helper.readAllStandardOutput()).toStdString(),
                  (c.flasherOutput + "\n" + c.outcome + " Appuyez sur Entrée pour fermer cette fenêtre.").toStdString());
    }
}

TEST(ProcessStarter, ProgramSearch)
{
    int error = 0;
    EXPECT_EQ(FindProgram("sh", "/nonexistent:/bin", error), "/bin/sh");
    EXPECT_EQ(FindProgram("no-such-program-here", "/bin:/usr/bin", error), "");
    EXPECT_EQ(error, ENOENT);
    QTemporaryDir dir;
    QFile plain(dir.filePath("tool"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(FindProgram("tool", dir.path().toStdString(), error), "");
    EXPECT_EQ(error, EACCES) << "a file that cannot be run is reported as such";
}

TEST(ProcessStarter, FailedStartReportsItsError)
{
    QTemporaryDir dir;
    QFile notAProgram(dir.filePath("broken"));
    ASSERT_TRUE(notAProgram.open(QIODevice::WriteOnly));
    notAProgram.write("\x7f" "ELFgarbage");
    notAProgram.close();
    notAProgram.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(StartDetached(dir.filePath("broken").toStdString(), "broken", {}), ENOEXEC);
    EXPECT_EQ(FlashErrorText(ENOENT), "No such file or directory");
}

TEST(ProcessStarter, AStartedProgramInheritsOnlyTheStandardDescriptorsAndDefaultSignals)
{
    FakeFlasher records;
    int error = 0;
    {
        // What the tool may hold when FLASH is pressed: a descriptor without
        // close-on-exec, an ignored signal and a blocked one.
        const int stray = ::open("/dev/null", O_RDONLY);
        const auto previous = std::signal(SIGUSR1, SIG_IGN);
        sigset_t blocked, previousMask;
        ::sigemptyset(&blocked);
        ::sigaddset(&blocked, SIGUSR2);
        ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
        error = StartDetached("/bin/sh", "sh",
                              {"-c", std::string("exec > \"$0\"; ") + InheritanceReport,
                               records.dir.filePath("record.fifo").toStdString()});
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        std::signal(SIGUSR1, previous);
        ::close(stray);
    }
    ASSERT_EQ(error, 0);
    QString report;
    for (int line = 0; line < 5; ++line)
        report += records.NextRecord() + "\n";
    EXPECT_EQ(report.toStdString(), CleanInheritance.toStdString());
}

} // namespace
