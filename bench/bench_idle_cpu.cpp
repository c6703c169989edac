// CPU time used by an open port with every event enabled while nothing
// arrives, over 10 seconds of wall time. An idle port should wake nobody.
#include "BenchPty.h"
#include "ComErrors.h"
#include "ComPort.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

namespace {
double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    InitPortErrorMessages();
    QCoreApplication application(argc, argv);
    BenchPty pty;
    TCustomComPort port;
    port.SetPortName(QString::fromStdString(pty.path));
    port.OnException = [](TCustomComPort*, TComErrorCode, const QString&, std::int64_t, const QString&) {};
    port.Open();
    const double before = CpuSeconds();
    QTimer::singleShot(10000, &application, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double used = CpuSeconds() - before;
    port.Close();
    std::printf("idle open port: %.3f ms of CPU over 10 s\n", used * 1000);
    return 0;
}
