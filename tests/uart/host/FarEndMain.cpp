// Runs the rig: boots the guest in the emulator with its lines' host ends
// held here, serves the guest's requests, and exits with the guest's verdict:
// 0 every case passed, 1 a case failed, 2 the rig itself failed, 3 the guest
// did not start in time (the caller may try again without KVM).

#include "Emulator.h"
#include "FarEnd.h"
#include "ModemLineState.h"
#include "PtyLine.h"
#include "UnixSocket.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string kernel, initrd, preload, accel = "tcg", work, filter = "*", repeat = "1";
    int timeoutSeconds = 600;
    int bootSeconds = 120;
};

Options Parse(int argc, char** argv)
{
    Options options;
    std::map<std::string, std::string*> text = {{"--kernel", &options.kernel}, {"--initrd", &options.initrd},
                                               {"--preload", &options.preload}, {"--accel", &options.accel},
                                               {"--work", &options.work}, {"--filter", &options.filter},
                                               {"--repeat", &options.repeat}};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (text.count(name))
            *text[name] = argv[i + 1];
        else if (name == "--timeout")
            options.timeoutSeconds = std::atoi(argv[i + 1]);
        else if (name == "--boot-timeout")
            options.bootSeconds = std::atoi(argv[i + 1]);
        else
            throw std::runtime_error("unknown option " + name);
    }
    if (options.kernel.empty() || options.initrd.empty() || options.preload.empty() || options.work.empty())
        throw std::runtime_error("usage: uart-far-end --kernel K --initrd I --preload LIB --work DIR "
                                 "[--accel kvm|tcg] [--timeout S] [--boot-timeout S] [--filter GTEST_FILTER] [--repeat N]");
    return options;
}

// ttyS0 the console, ttyS1 the control line, ttyS2 the line under test with
// modem lines, ttyS3 the line breaks come in on, and a PCI card to remove.
// Each UART has an interrupt of its own: the emulated ISA bus does not share
// one line between two UARTs reliably (one lowering it hides the other's),
// and the console writes while the cases run.
std::vector<std::string> EmulatorArguments(const Options& o, const PtyLine& control, const PtyLine& line,
                                           const std::string& breakListenerFd, const std::string& monitorSocket)
{
    std::vector<std::string> a = {"qemu-system-x86_64", "-accel", o.accel, "-m", "512", "-smp", "2",
                                  "-nodefaults", "-display", "none", "-no-reboot", "-net", "none",
                                  "-kernel", o.kernel, "-initrd", o.initrd,
                                  "-append", "console=ttyS0 quiet panic=-1 8250.nr_uarts=8 rig.filter=" + o.filter +
                                                " rig.repeat=" + o.repeat,
                                  "-chardev", "stdio,id=con,signal=off",
                                  "-device", "isa-serial,index=0,irq=4,chardev=con",
                                  "-chardev", "serial,id=ctl,path=" + control.SlavePath(),
                                  "-device", "isa-serial,index=1,irq=3,chardev=ctl",
                                  "-chardev", "serial,id=la,path=" + line.SlavePath(),
                                  "-device", "isa-serial,index=2,irq=5,chardev=la",
                                  "-chardev", "socket,id=brk,server=on,wait=off,telnet=on,fd=" + breakListenerFd,
                                  "-device", "isa-serial,index=3,irq=7,chardev=brk",
                                  "-chardev", "null,id=cardline", "-device", "pci-serial,id=pcis,chardev=cardline",
                                  "-chardev", "socket,id=mon,path=" + monitorSocket, "-mon", "chardev=mon,mode=readline"};
    if (o.accel == "kvm")
        a.insert(a.begin() + 3, {"-cpu", "host"});
    return a;
}

// The monitor greets with a prompt; it is read before the first command.
bool ReadMonitorGreeting(int monitor)
{
    std::string text;
    while (text.find("(qemu)") == std::string::npos && WaitReadable(monitor, 20000)) {
        char buffer[512];
        const ssize_t got = ::read(monitor, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text.find("(qemu)") != std::string::npos;
}

int Run(const Options& o)
{
    std::filesystem::create_directories(o.work);
    PtyLine control("ctl", o.work + "/ctl.lines");
    PtyLine line("a", o.work + "/a.lines");
    UnixListener breakListener(o.work + "/brk.sock");
    UnixListener monitorListener(o.work + "/mon.sock");
    const std::string mapping = control.SlavePath() + "=" + control.StateFile() + ";" + line.SlavePath() + "=" +
                                line.StateFile();
    // The emulator speaks telnet on the break line only as its server: it
    // takes over the listening socket made here, and the far end connects.
    Emulator emulator(EmulatorArguments(o, control, line, std::to_string(breakListener.Inheritable()),
                                        monitorListener.Path()),
                      {"LD_PRELOAD=" + o.preload, std::string(ModemLinesVariable) + "=" + mapping});
    Comm::UniqueFd monitor = monitorListener.Accept(20000);
    Comm::UniqueFd breakLine = ConnectTo(breakListener.Path());
    if (!monitor.Valid() || !breakLine.Valid() || !ReadMonitorGreeting(monitor.Get())) {
        std::fprintf(stderr, "far end: the emulator did not connect its monitor and break line\n");
        return 2;
    }
    FarEnd farEnd(control.Master(), {{"a", &line}}, breakLine.Get(), monitor.Get());
    const auto now = FarEnd::Clock::now();
    const FarEnd::Outcome outcome = farEnd.Serve(emulator.PidFd(), now + std::chrono::seconds(o.bootSeconds),
                                                 now + std::chrono::seconds(o.timeoutSeconds));
    if (emulator.WaitForExit(30000) < 0)
        std::fprintf(stderr, "far end: the guest did not power off; stopping the emulator\n");
    if (!outcome.guestReported) {
        std::fprintf(stderr, "far end: %s\n", outcome.why.c_str());
        return outcome.why.find("start") != std::string::npos ? 3 : 2;
    }
    return outcome.failedCases == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(Parse(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "far end: %s\n", e.what());
        return 2;
    }
}
