// Storing and loading port settings, and the two stores beneath: REGEDIT4
// registry files and initialisation files.
#include "IniFile.h"
#include "PortFixture.h"
#include "PtyPair.h"
#include "RegistryKey.h"
#include "platform/FileCallsLinux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes beyond this many bytes fail with EFBIG while it lives, for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, previous_.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &previous_); }

private:
    rlimit previous_{};
};

// Runs as an ordinary user while it lives when the tests run as root.
class UnprivilegedUser {
public:
    UnprivilegedUser()
    {
        if (::geteuid() == 0) {
            EXPECT_EQ(::seteuid(65534), 0);
        }
    }
    ~UnprivilegedUser()
    {
        if (::getuid() == 0) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(data);
}

// Every setting of every group away from its default.
void MakeEverythingNonDefault(TCustomComPort& port)
{
    port.SetPortName("/dev/ttyUSB3");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    port.SetStopBits(sbTwo);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prMark);
    port.SetEventChar('\n');
    port.SetDiscardNull(true);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.Buffer().SetInputSize(4096);
    port.Buffer().SetOutputSize(512);
    port.Timeouts().SetReadInterval(5);
    port.Timeouts().SetReadTotalConstant(6);
    port.Timeouts().SetReadTotalMultiplier(7);
    port.Timeouts().SetWriteTotalConstant(8);
    port.Timeouts().SetWriteTotalMultiplier(9);
    port.FlowControl().SetControlRTS(rtsToggle);
    port.FlowControl().SetControlDTR(dtrEnable);
    port.FlowControl().SetDSRSensitivity(true);
    port.FlowControl().SetOutCTSFlow(true);
    port.FlowControl().SetOutDSRFlow(true);
    port.FlowControl().SetTxContinueOnXoff(true);
    port.FlowControl().SetXonXoffIn(true);
    port.FlowControl().SetXonXoffOut(true);
    port.FlowControl().SetXoffChar('s');
    port.FlowControl().SetXonChar('q');
}

void ExpectSameSettings(const TCustomComPort& a, const TCustomComPort& b)
{
    EXPECT_EQ(a.Port(), b.Port());
    EXPECT_EQ(a.BaudRate(), b.BaudRate());
    EXPECT_EQ(a.CustomBaudRate(), b.CustomBaudRate());
    EXPECT_EQ(a.StopBits(), b.StopBits());
    EXPECT_EQ(a.DataBits(), b.DataBits());
    EXPECT_EQ(a.EventChar(), b.EventChar());
    EXPECT_EQ(a.DiscardNull(), b.DiscardNull());
    EXPECT_EQ(a.BuildControlBlock(), b.BuildControlBlock());
    EXPECT_EQ(a.BuildTimeouts(), b.BuildTimeouts());
    EXPECT_EQ(a.Buffer().InputSize(), b.Buffer().InputSize());
    EXPECT_EQ(a.Buffer().OutputSize(), b.Buffer().OutputSize());
}

const TStoreGroups AllGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers};

class Store : public testing::Test {
protected:
    Store()
    {
        EXPECT_TRUE(dir.isValid());
        port.setObjectName("ComPort1");
    }

    QString Path(const char* name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    TFakeCommLayer device;
    TCustomComPort port{nullptr, device};
    RegistryFile file;
    RegistryKey key{*file.Key("HKEY_CURRENT_USER\\Software\\Zorbel", true)};
};

TEST_F(Store, BasicGroupWritesSixEntriesOrSevenWithACustomRate)
{
    port.StoreRegistry(key);
    EXPECT_EQ(key.ValueNames(), QStringList({"Port", "BaudRate", "StopBits", "DataBits", "Parity", "FlowControl"}));
    EXPECT_EQ(key.ReadString("BaudRate"), "9600");
    EXPECT_EQ(key.ReadString("StopBits"), "1");
    EXPECT_EQ(key.ReadString("FlowControl"), "None");

    port.SetBaudRate(brCustom);
    RegistryFile other;
    RegistryKey custom(*other.Key("K", true));
    port.StoreRegistry(custom);
    EXPECT_EQ(custom.ValueNames(),
              QStringList({"Port", "BaudRate", "CustomBaudRate", "StopBits", "DataBits", "Parity", "FlowControl"}));
    EXPECT_EQ(custom.ReadInteger("CustomBaudRate"), 9600);
    EXPECT_EQ(custom.ReadString("BaudRate"), "Custom");
}

TEST_F(Store, EveryEntryInItsGroupOrder)
{
    port.SetStoredGroups(AllGroups);
    port.SetBaudRate(brCustom);
    port.StoreRegistry(key);
    EXPECT_EQ(key.ValueNames(),
              QStringList({"Port", "BaudRate", "CustomBaudRate", "StopBits", "DataBits", "Parity", "FlowControl",
                           "EventChar", "DiscardNull", "Parity.Check", "Parity.Replace", "Parity.ReplaceChar",
                           "Buffer.OutputSize", "Buffer.InputSize", "Timeouts.ReadInterval",
                           "Timeouts.ReadTotalConstant", "Timeouts.ReadTotalMultiplier",
                           "Timeouts.WriteTotalConstant", "Timeouts.WriteTotalMultiplier", "FlowControl.ControlRTS",
                           "FlowControl.ControlDTR", "FlowControl.DSRSensitivity", "FlowControl.OutCTSFlow",
                           "FlowControl.OutDSRFlow", "FlowControl.TxContinueOnXoff", "FlowControl.XonXoffIn",
                           "FlowControl.XonXoffOut", "FlowControl.XoffChar", "FlowControl.XonChar"}));
    EXPECT_EQ(key.ReadString("EventChar"), "#0");
    EXPECT_EQ(key.ReadString("DiscardNull"), "No");
    EXPECT_EQ(key.ReadInteger("Timeouts.ReadInterval"), -1);
}

TEST_F(Store, NoGroupsWritesAndReadsNothing)
{
    port.SetStoredGroups({});
    port.StoreRegistry(key);
    EXPECT_TRUE(key.ValueNames().isEmpty());
    port.LoadRegistry(key);
    EXPECT_EQ(port.Port(), "/dev/ttyS0");
}

TEST_F(Store, FlowControlDefaultsAsCharactersAndPreset)
{
    port.SetStoredGroups({sgBasic, sgFlowControl});
    IniFile ini(Path("port.ini"));
    port.StoreIniFile(ini);
    EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl.XonChar", ""), "#17");
    EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl.XoffChar", ""), "#19");
    EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl", ""), "None");
    EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl.ControlRTS", ""), "Disable");

    port.FlowControl().SetControlRTS(rtsEnable);
    port.StoreIniFile(ini);
    EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl", ""), "Custom") << "a mixed combination is stored as Custom";
}

TEST_F(Store, EveryGroupRoundTripsThroughTheRegistryFile)
{
    port.SetStoredGroups(AllGroups);
    MakeEverythingNonDefault(port);
    port.StoreRegistry(key);
    file.Save(Path("port.reg"));

    RegistryFile loaded = RegistryFile::Load(Path("port.reg"));
    RegistryKey loadedKey(*loaded.Key("hkey_current_user\\software\\zorbel", false));
    TCustomComPort copy(nullptr, device);
    copy.SetStoredGroups(AllGroups);
    copy.LoadRegistry(loadedKey);
    ExpectSameSettings(port, copy);
}

TEST_F(Store, EveryGroupRoundTripsThroughTheIniFile)
{
    port.SetStoredGroups(AllGroups);
    MakeEverythingNonDefault(port);
    {
        IniFile ini(Path("port.ini"));
        port.StoreIniFile(ini);
        ASSERT_EQ(ini.UpdateFile(), "");
    }
    IniFile ini(Path("port.ini"));
    TCustomComPort copy(nullptr, device);
    copy.setObjectName("ComPort1");
    copy.SetStoredGroups(AllGroups);
    copy.LoadIniFile(ini);
    ExpectSameSettings(port, copy);
}

TEST_F(Store, HandEditedIniFileMatchesWithoutRegardToCase)
{
    WriteAll(Path("edited.ini"), "; settings\n[comport1]\nbaudrate=custom\nPARITY=even\nstopbits=2\n");
    IniFile ini(Path("edited.ini"));
    port.SetCustomBaudRate(115200);
    port.LoadIniFile(ini);
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600) << "a custom rate without its entry loads 9600";
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_EQ(port.StopBits(), sbTwo);
    EXPECT_EQ(port.Port(), "/dev/ttyS0") << "an absent entry leaves its property unchanged";
}

TEST_F(Store, EmptyIniSectionChangesNothingButACustomRate)
{
    WriteAll(Path("empty.ini"), "[ComPort1]\n");
    IniFile ini(Path("empty.ini"));
    port.SetStoredGroups(AllGroups);
    MakeEverythingNonDefault(port);
    TCustomComPort before(nullptr, device);
    before.SetStoredGroups(AllGroups);
    MakeEverythingNonDefault(before);
    port.LoadIniFile(ini);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    before.SetCustomBaudRate(9600);
    ExpectSameSettings(before, port);
}

TEST_F(Store, RegistryKeyWithoutPortSetsAnEmptyPort)
{
    key.WriteString("BaudRate", "57600");
    port.LoadRegistry(key);
    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.BaudRate(), br57600);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone) << "a missing preset reads as Custom, which changes nothing";
}

TEST_F(Store, RegistryKeyWithoutAQueueSizeFailsAndLeavesBothSizes)
{
    port.SetStoredGroups({sgBuffer});
    key.WriteInteger("Buffer.InputSize", 8192);
    try {
        port.LoadRegistry(key);
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Failed to get data for 'Buffer.OutputSize'");
    }
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    key.WriteString("Buffer.OutputSize", "2048");
    try {
        port.LoadRegistry(key);
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Invalid data type for 'Buffer.OutputSize'");
    }
}

TEST_F(Store, LoadingIntoAnOpenPortReappliesAndReopens)
{
    port.SetEvents({});
    port.SetPortName("/dev/ttyFAKE0");
    port.Open();
    device.ClearCalls();
    key.WriteString("Port", "/dev/ttyFAKE1");
    key.WriteString("BaudRate", "19200");
    port.LoadRegistry(key);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(device.OpenedPaths(), std::vector<std::string>{"/dev/ttyFAKE1"});
    EXPECT_EQ(device.States().back().BaudRate, 19200u);
    const auto calls = device.Calls();
    const auto reopened = std::find(calls.begin(), calls.end(), "CreateDevice");
    ASSERT_NE(reopened, calls.end());
    EXPECT_GE(std::count(reopened, calls.end(), "SetCommState"), 3) << "the rate and the preset re-apply after reopening";
}

TEST_F(Store, APortNameWithALineBreakIsRefusedByBothStores)
{
    QTemporaryDir dir;
    port.SetPortName("/dev/ttyUSB0\n[Evil]\nBaudRate=110");
    IniFile ini(dir.filePath("p.ini"));
    EXPECT_THROW(port.StoreIniFile(ini), EIniFileException);
    EXPECT_EQ(ini.Text(), QByteArray()) << "nothing may be written";

    RegistryFile file;
    RegistryKey key(*file.Key("Port", true));
    try {
        port.StoreRegistry(key);
        FAIL() << "stored";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Failed to set data for 'Port'");
    }
    EXPECT_NO_THROW(RegistryFile::Parse(file.Serialize(), "p.reg"));
}

TEST_F(Store, ReadOnlyKeyRefusesWrites)
{
    RegistryKey readOnly(*file.Key("HKEY_CURRENT_USER\\Software\\Zorbel", false), RegistryKey::ReadOnly);
    try {
        port.StoreRegistry(readOnly);
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Failed to set data for 'Port'");
    }
}

// ---- REGEDIT4 files -------------------------------------------------------

TEST(RegistryFiles, WriteTheFileFormat)
{
    RegistryFile file;
    RegistryKey key(*file.Key("HKEY_CURRENT_USER\\Software\\Zorbel", true));
    key.WriteString("Port", "C:\\dev\\\"x\"");
    key.WriteInteger("Size", 10);
    key.WriteInteger("Negative", -1);
    EXPECT_EQ(file.Serialize(), QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zorbel]\n"
                                           "\"Port\"=\"C:\\\\dev\\\\\\\"x\\\"\"\n"
                                           "\"Size\"=dword:0000000a\n"
                                           "\"Negative\"=dword:ffffffff\n"));
    RegistryFile back = RegistryFile::Parse(file.Serialize(), "memory");
    RegistryKey backKey(*back.Key("HKEY_CURRENT_USER\\SOFTWARE\\ZORBEL", false));
    EXPECT_EQ(backKey.ReadString("port"), "C:\\dev\\\"x\"");
    EXPECT_EQ(backKey.ReadInteger("NEGATIVE"), -1);
}

TEST(RegistryFiles, KeepValuesOfOtherTypes)
{
    const QByteArray text = "REGEDIT4\r\n\r\n[K]\r\n\"Bin\"=hex:01,02,\\\r\n  03\r\n@=\"default\"\r\n";
    RegistryFile file = RegistryFile::Parse(text, "k.reg");
    RegistryKey key(*file.Key("K", false));
    EXPECT_THROW(key.ReadString("Bin"), ERegistryException);
    EXPECT_THROW(key.ReadInteger("Bin"), ERegistryException);
    EXPECT_EQ(key.ReadString(""), "default");
    EXPECT_TRUE(file.Serialize().contains("\"Bin\"=hex:01,02,03"));
}

TEST(RegistryFiles, MalformedFilesNameTheFileAndLine)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"Windows Registry Editor\n", "bad.reg:1: the file does not begin with REGEDIT4"},
        {"REGEDIT4\n\"A\"=\"x\"\n", "bad.reg:2: value outside of any key"},
        {"REGEDIT4\n[K]\n\"A\"=\"unterminated\n", "bad.reg:3: unterminated text"},
        {"REGEDIT4\n[K]\n\"A\"=dword:123456789\n", "bad.reg:3: malformed dword value"},
        {"REGEDIT4\n[K]\n\"A\"=dword:xyz\n", "bad.reg:3: malformed dword value"},
        {"REGEDIT4\n[K\n", "bad.reg:2: malformed key line"},
        {"REGEDIT4\n[K]\n\"A\"\n", "bad.reg:3: expected '=' after the value name"},
        {"REGEDIT4\n[K]\nA=1\n", "bad.reg:3: expected a value name in quotes or @"},
        {"REGEDIT4\n[K]\n\"A\"=\"x\\q\"\n", "bad.reg:3: unknown escape '\\q'"},
        {"REGEDIT4\n[K]\n\"A\"=\"x\" trailing\n", "bad.reg:3: unexpected text after the closing quote"},
        {"REGEDIT4\n[K]\n\"A\"=42\n", "bad.reg:3: unsupported value data"},
        {"REGEDIT4\n[K]\n\"A", "bad.reg:3: unterminated text"},
    };
    for (const Case& c : cases) {
        try {
            RegistryFile::Parse(c.text, "bad.reg");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(c.message)) << c.text;
        }
    }
}

TEST(RegistryFiles, FailedSaveLeavesTheOldFileIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("port.reg");
    WriteAll(path, "REGEDIT4\n\n[Old]\n\"A\"=\"1\"\n");
    RegistryFile file;
    RegistryKey(*file.Key("New", true)).WriteString("B", QString(100, 'x'));
    const int descriptors = OpenDescriptorCount();
    {
        FileSizeLimit limit(16);
        EXPECT_THROW(file.Save(path), ERegistryException);
    }
    EXPECT_EQ(ReadAll(path), QByteArray("REGEDIT4\n\n[Old]\n\"A\"=\"1\"\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"port.reg"}) << "the temporary file stayed";
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(RegistryFiles, LineBreaksAreRefusedAndTheFileStaysLoadable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("port.reg");
    RegistryFile file;
    RegistryKey key(*file.Key("Port", true));
    for (const QString& value : {QString("a\nb"), QString("a\rb")}) {
        try {
            key.WriteString("Port", value);
            FAIL() << "a line break was accepted";
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), "Failed to set data for 'Port'");
        }
    }
    EXPECT_THROW(key.WriteInteger("Two\nLines", 1), ERegistryException);
    key.WriteString("After", "ok");
    file.Save(path);
    RegistryFile loaded = RegistryFile::Load(path);
    RegistryKey reread(*loaded.Key("Port", false));
    EXPECT_EQ(reread.ValueNames(), QStringList{"After"}) << "a refused write wrote nothing";
}

TEST(RegistryFiles, AContinuationWithoutANextLineIsMalformed)
{
    for (const QByteArray& ending : {QByteArray("\\"), QByteArray("\\\n"), QByteArray("\\\n\n")}) {
        const QByteArray text = "REGEDIT4\n\n[K]\n\"Bin\"=hex:01,02," + ending;
        try {
            RegistryFile::Parse(text, "x.reg");
            FAIL() << "accepted " << text.toStdString();
        } catch (const ERegistryException& e) {
            EXPECT_TRUE(e.Message().startsWith("x.reg:4: ")) << e.what();
        }
    }
    // A continued value in the middle of a file still reads.
    RegistryFile file = RegistryFile::Parse("REGEDIT4\n[K]\n\"Bin\"=hex:01,\\\n  02\n\"Next\"=\"n\"\n", "y.reg");
    RegistryKey key(*file.Key("K", false));
    EXPECT_EQ(key.ValueNames(), QStringList({"Bin", "Next"}));
    EXPECT_EQ(key.ReadString("Next"), "n");
}

// ---- The safe save shared by both stores --------------------------------------

TEST(SafeSave, WritesThroughALinkWhichStaysALink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    const QString target = dir.filePath("real/c.ini");
    const QString link = dir.filePath("c.ini");
    WriteAll(target, "[Port]\nA=1\n");
    ASSERT_EQ(::symlink("real/c.ini", QFile::encodeName(link).constData()), 0);
    IniFile ini(link);
    ini.WriteString("Port", "A", "2");
    ASSERT_EQ(ini.UpdateFile(), "");
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link was replaced by a plain file";
    EXPECT_EQ(ReadAll(target), QByteArray("[Port]\nA=2\n")) << "the link's target kept the old settings";
    EXPECT_EQ(QDir(dir.filePath("real")).entryList(QDir::Files | QDir::Hidden), QStringList{"c.ini"});
}

// A save that must not happen: refused with the system's reason, the old
// file byte for byte as it was (the very same file), and nothing left
// beside it.
TEST(SafeSave, RefusesWhatTheUserMayNotWriteAndLeavesItAsItWas)
{
    struct Case {
        const char* what;
        mode_t folderMode;
        mode_t fileMode;
        uid_t owner;       // 0: the file stays the test's
        bool unprivileged; // saved by an ordinary user (the test runs as root)
    };
    const Case cases[] = {
        {"a read-only file, even to root", 0755, 0444, 0, false},
        {"another user's file in a folder all may write", 0777, 0644, 4321, true},
        {"a writable file in a folder the user may not write", 0555, 0666, 0, true},
    };
    const QByteArray old = "[Port]\nA=1\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
        const QString folder = root.filePath("settings");
        ASSERT_TRUE(QDir().mkdir(folder));
        const QString path = folder + "/c.ini";
        const QByteArray name = QFile::encodeName(path);
        WriteAll(path, old);
        ASSERT_EQ(::chmod(name.constData(), c.fileMode), 0);
        if (c.owner != 0) {
            ASSERT_EQ(::chown(name.constData(), c.owner, c.owner), 0) << "giving the file to another user needs root";
        }
        struct stat before {};
        ASSERT_EQ(::stat(name.constData(), &before), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.folderMode), 0);

        QString failure;
        {
            std::optional<UnprivilegedUser> user;
            if (c.unprivileged)
                user.emplace();
            IniFile ini(path);
            ini.WriteString("Port", "A", "2");
            failure = ini.UpdateFile();
        }
        EXPECT_TRUE(failure.contains("Permission denied")) << failure.toStdString();
        EXPECT_EQ(ReadAll(path), old);
        struct stat after {};
        ASSERT_EQ(::stat(name.constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"c.ini"})
            << "a temporary file stayed";
    }
}

// The new file is made with mode 0600 and given the old one's: a mode other
// than that shows whether it was.
TEST(SafeSave, KeepsPermissionsAndOwner)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("c.ini");
    WriteAll(path, "[Port]\nA=1\n");
    const QByteArray name = QFile::encodeName(path);
    const bool root = ::geteuid() == 0;
    struct stat saved {};
    for (const mode_t mode : {0600, 0644, 0640, 0604}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(name.constData(), mode), 0);
        if (root) {
            ASSERT_EQ(::chown(name.constData(), 4321, 4321), 0);
        }
        IniFile ini(path);
        ini.WriteString("Port", "A", QString::number(mode));
        ASSERT_EQ(ini.UpdateFile(), "");
        ASSERT_EQ(::stat(name.constData(), &saved), 0);
        EXPECT_EQ(saved.st_mode & 07777, mode);
        if (root) {
            EXPECT_EQ(saved.st_uid, 4321u);
            EXPECT_EQ(saved.st_gid, 4321u);
        }
    }

    // A new file gets the usual mode.
    const mode_t previous = ::umask(022);
    IniFile fresh(dir.filePath("new.ini"));
    fresh.WriteString("Port", "A", "1");
    ASSERT_EQ(fresh.UpdateFile(), "");
    ::umask(previous);
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("new.ini")).constData(), &saved), 0);
    EXPECT_EQ(saved.st_mode & 07777, 0644u);
}

// A step of the save the system did not carry out (made to fail through the
// table of calls the save makes) refuses it, with the system's text, the old
// file as it was and nothing left beside it.
TEST(SafeSave, AStepTheSystemDidNotCarryOutRefusesTheSave)
{
    using Calls = Platform::TFileCalls;
    const struct {
        const char* what;
        void (*fail)(Calls& calls);
        const char* reason;
    } cases[] = {
        {"a write with no room left",
         [](Calls& c) { c.Write = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; }; },
         "No space left on device"},
        {"a mode that cannot be set", [](Calls& c) { c.Fchmod = [](int, mode_t) { return errno = EPERM, -1; }; },
         "Operation not permitted"},
        {"a failed flush to disk", [](Calls& c) { c.Fdatasync = [](int) { return errno = EIO, -1; }; },
         "Input/output error"},
        {"a close that tells of a lost write",
         [](Calls& c) { c.Close = [](int fd) { return ::close(fd), errno = EIO, -1; }; }, "Input/output error"},
        {"a rename the folder refuses",
         [](Calls& c) { c.Rename = [](const char*, const char*) { return errno = EROFS, -1; }; },
         "Read-only file system"},
    };
    const QByteArray old = "[Port]\nA=1\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath("c.ini");
        const QByteArray name = QFile::encodeName(path);
        WriteAll(path, old);
        ASSERT_EQ(::chmod(name.constData(), 0644), 0);
        struct stat before {};
        ASSERT_EQ(::stat(name.constData(), &before), 0);
        const int descriptors = OpenDescriptorCount();

        const Calls system = Platform::FileCalls();
        c.fail(Platform::FileCalls());
        IniFile ini(path);
        ini.WriteString("Port", "A", "2");
        const QString failure = ini.UpdateFile();
        Platform::FileCalls() = system;
        EXPECT_EQ(failure, QString("Cannot save '%1': %2").arg(path, c.reason));
        EXPECT_EQ(ReadAll(path), old);
        struct stat after {};
        ASSERT_EQ(::stat(name.constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
        EXPECT_EQ(after.st_mode & 07777, 0644u);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"c.ini"})
            << "a temporary file stayed";
        EXPECT_EQ(OpenDescriptorCount(), descriptors);
    }
}

// ---- Initialisation files ---------------------------------------------------

TEST(IniFiles, WindowsRulesForReading)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    WriteAll(path, "[Other]\nKey=other\n[Port]\n; a comment\nKey=first\nkey=second\nSpaced = value with = sign \n"
                   "Hex=0x1F\nDollar=$10\nBad=12abc\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("port", "KEY", "d"), "first") << "the first of duplicate keys wins";
    EXPECT_EQ(ini.ReadString("Port", "spaced", "d"), " value with = sign ") << "values are raw to the end of the line";
    EXPECT_EQ(ini.ReadString("Port", "Missing", "d"), "d");
    EXPECT_EQ(ini.ReadString("Missing", "Key", "d"), "d");
    EXPECT_EQ(ini.ReadString("Port", "; a comment", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("Port", "Hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("Port", "Dollar", 0), 16);
    EXPECT_EQ(ini.ReadInteger("Port", "Bad", 7), 7);
    EXPECT_EQ(ini.ReadSection("PORT"), QStringList({"Key", "Spaced", "Hex", "Dollar", "Bad"}));
}

TEST(IniFiles, WritingKeepsEverythingElse)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("b.ini");
    WriteAll(path, "; header\n[A]\nx=1\n\n[Port]\nKeep=me\nBaudRate=9600\n\n[B]\ny=2\n");
    IniFile ini(path);
    ini.WriteString("port", "baudrate", "57600");
    ini.WriteInteger("Port", "New", -5);
    ini.WriteString("C", "z", "3");
    ASSERT_EQ(ini.UpdateFile(), "");
    EXPECT_EQ(ReadAll(path), QByteArray("; header\n[A]\nx=1\n\n[Port]\nKeep=me\nBaudRate=57600\nNew=-5\n\n[B]\ny=2\n\n[C]\nz=3\n"));
}

TEST(IniFiles, FailedSaveLeavesTheOldFileIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("c.ini");
    WriteAll(path, "[Port]\nA=1\n");
    IniFile ini(path);
    ini.WriteString("Port", "A", QString(100, 'x'));
    const int descriptors = OpenDescriptorCount();
    {
        FileSizeLimit limit(8);
        EXPECT_NE(ini.UpdateFile(), "");
    }
    EXPECT_EQ(ReadAll(path), QByteArray("[Port]\nA=1\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"c.ini"}) << "the temporary file stayed";
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(IniFiles, AFileThatCannotBeReadIsNeverReplaced)
{
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    const QString path = dir.filePath("locked.ini");
    WriteAll(path, "[Port]\nA=1\n[Other]\nB=2\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    QString failure;
    {
        // Root reads every file: the test reads as somebody else.
        UnprivilegedUser user;
        IniFile ini(path);
        ini.WriteString("Port", "A", "2");
        failure = ini.UpdateFile();
    }
    EXPECT_TRUE(failure.contains("Permission denied")) << failure.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(ReadAll(path), QByteArray("[Port]\nA=1\n[Other]\nB=2\n"));
}

TEST(IniFiles, UnchangedLinesAreWrittenBackByteForByte)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("latin1.ini");
    const QByteArray original = "\xEF\xBB\xBF; caf\xE9 cr\xE8me\r\n[Port]\r\nName=\xE9t\xE9\r\nA=1\r\n";
    WriteAll(path, original);
    IniFile ini(path);
    ini.WriteString("Port", "A", "2");
    ini.WriteString("Port", "B", "3");
    ASSERT_EQ(ini.UpdateFile(), "");
    EXPECT_EQ(ReadAll(path),
              QByteArray("\xEF\xBB\xBF; caf\xE9 cr\xE8me\r\n[Port]\r\nName=\xE9t\xE9\r\nA=2\r\nB=3\r\n"));
}

TEST(IniFiles, LineBreaksCannotAddEntries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("inject.ini");
    WriteAll(path, "[Port]\nBaudRate=9600\n");
    IniFile ini(path);
    const QByteArray before = ini.Text();
    const QString attacks[] = {"x\nBaudRate=1", "x\r[Evil]", "\n"};
    for (const QString& value : attacks) {
        try {
            ini.WriteString("Port", "Port", value);
            FAIL() << "a line break was accepted";
        } catch (const EIniFileException& e) {
            EXPECT_TRUE(e.Message().contains("'Port'") && e.Message().contains("[Port]")) << e.what();
        }
    }
    EXPECT_THROW(ini.WriteString("Port\n[Evil]", "A", "1"), EIniFileException);
    EXPECT_THROW(ini.WriteString("Port", "A\nB", "1"), EIniFileException);
    EXPECT_EQ(ini.Text(), before) << "a refused write wrote nothing";
}

TEST(IniFiles, IntegersAreWholeNumbersOrTheDefault)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("n.ini");
    const std::pair<QByteArray, std::int32_t> cases[] = {
        {" 42 ", 42}, {"-5", -5}, {"+7", 7}, {"0x1F", 31}, {"0X1f", 31}, {"$10", 16}, {"-0x10", -16},
        {"0xFFFFFFFF", -1}, {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX},
        {"0x 400", -99}, {"0x0x10", -99}, {"- 5", -99}, {"12 34", -99}, {QByteArray("12\0" "34", 5), -99},
        {"", -99}, {"0x", -99}, {"$", -99}, {"--5", -99}, {"2147483648", -99}, {"0x100000000", -99}, {"12abc", -99},
    };
    QByteArray text = "[N]\n";
    for (std::size_t i = 0; i < std::size(cases); ++i)
        text += "K" + QByteArray::number(static_cast<int>(i)) + "=" + cases[i].first + "\n";
    WriteAll(path, text);
    IniFile ini(path);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(ini.ReadInteger("N", QString("K%1").arg(i), -99), cases[i].second)
            << "text '" << cases[i].first.toStdString() << "'";
    }
}

} // namespace
