// The main window as the X server sees it: the title a window manager shows
// is exactly the layout's caption, with nothing appended by the platform.
#include "TForm1.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

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

} // namespace
