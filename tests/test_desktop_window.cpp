// The main window as the X server sees it: the title a window manager shows
// is exactly the layout's caption, with nothing appended by the platform.
#include "FlashCommand.h"
#include "FlashLauncher.h"
#include "TForm1.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

QString XProperty(WId window, const char* property)
{
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(window), property});
    if (!xprop.waitForFinished(10000) || xprop.exitCode() != 0) {
        ADD_FAILURE() << "xprop failed: " << xprop.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
}

TEST(DesktopWindow, TitleIsExactlyTheCaptionOnX11)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "this test needs an X display";
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form, 10000));
    EXPECT_EQ(XProperty(form.winId(), "_NET_WM_NAME").toStdString(), "_NET_WM_NAME(UTF8_STRING) = \"ZORBEL DATALOGGER FLASH\"");
    EXPECT_EQ(XProperty(form.winId(), "WM_NAME").toStdString(), "WM_NAME(STRING) = \"ZORBEL DATALOGGER FLASH\"");
}

void WriteScript(const QString& path, const QByteArray& text)
{
    QFile script(path);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly)) << path.toStdString();
    script.write(text);
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Waits, running the event loop, until ready() holds or timeoutMs passed.
bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = 20000)
{
    for (int waited = 0; !ready(); waited += 50) {
        if (waited >= timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

TEST(DesktopFlash, TheTerminalStaysOpenOnTheOutcomeUntilEnter)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "this test needs an X display";
    QTemporaryDir dir;
    // The flasher fails as a board out of sync makes it fail; the terminal is
    // a real xterm that logs what it shows and notes when it has closed.
    WriteScript(dir.filePath("avrdude"), "#!/bin/sh\n"
                                         "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/flasher-arguments\"\n"
                                         "echo 'stk500_getsync(): not in sync'\n"
                                         "exit 3\n");
    WriteScript(dir.filePath("x-terminal-emulator"),
                "#!/bin/sh\n"
                "here=\"$(dirname \"$0\")\"\n"
                "xterm -l -lf \"$here/terminal.log\" \"$@\"\n"
                "echo closed > \"$here/terminal-closed\"\n");
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()) + ":" + oldPath);
    const int started = StartFlasher(FlashParameterLine("/dev/ttyUSB0", "57600"), true, ZORBEL_REPORT_HELPER_PATH);
    qputenv("PATH", oldPath);
    ASSERT_EQ(started, 0);

    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(dir.filePath("flasher-arguments")); }))
        << "the flasher never ran in the terminal";
    EXPECT_EQ(ReadFile(dir.filePath("flasher-arguments")),
              "-c\narduino\n-p\nm328p\n-P\n/dev/ttyUSB0\n-b\n57600\n-U\nflash:w:datalogger_new.hex:i\n");
    const QByteArray outcome = "Échec de la mise à jour (code de sortie 3). Appuyez sur Entrée pour fermer cette fenêtre.";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(dir.filePath("terminal.log")).contains(outcome); }))
        << "the terminal never showed the outcome; it showed: " << ReadFile(dir.filePath("terminal.log")).toStdString();
    EXPECT_TRUE(ReadFile(dir.filePath("terminal.log")).contains("not in sync")) << "the flasher's own output";
    EXPECT_FALSE(WaitUntil([&] { return QFile::exists(dir.filePath("terminal-closed")); }, 500))
        << "the terminal closed before Enter was pressed";

    QProcess enter;
    // Enter, typed into the terminal as a user would: focus it, then the key.
    enter.start("/bin/sh", {"-c", "w=$(xdotool search --sync --onlyvisible --class XTerm | head -n1) && "
                                  "xdotool windowfocus --sync \"$w\" && xdotool key Return"});
    ASSERT_TRUE(enter.waitForFinished(20000)) << "xdotool did not end";
    EXPECT_EQ(enter.exitCode(), 0) << enter.readAllStandardError().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(dir.filePath("terminal-closed")); }))
        << "Enter did not close the terminal";
}

} // namespace
