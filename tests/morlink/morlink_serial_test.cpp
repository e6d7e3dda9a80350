// The serial link, on pseudo-terminals only: the mode string, the port's
// settings and read rules in-process, and the real binary against a pty that
// plays the device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "morlink_serial_pty.h"
#include "morlink_test_util.h"
#include "options.h"
#include "serial.h"
#include "seriallink.h"
#include "serialmode.h"
#include "settings.h"

namespace {

using Strings = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const char kDefaultMode[] =
    "baud=57600 parity=n data=8 stop=2 to=off xon=off odsr=off octs=off dtr=off rts=off idsr=off";
const char kSerialError[] = "serial error\n";
const char kNoFile[] = "No such file or directory\n";
const char kHungUp[] = "Input/output error\n";

double SecondsSince(Clock::time_point tStart)
{
    return std::chrono::duration<double>(Clock::now() - tStart).count();
}

void OpenPort(Strings args)
{
    ParseArgs(args);
    InitSerial();
}

void ClosePort()
{
    CloseSerial();
}

TEST(SerialMode, BuiltFromTheSettingsAndCutToTheBuffer)
{
    char pcMode[SERIAL_MODE_SIZE];
    ParseArgs({"-c1"});
    FormatSerialMode(pcMode, sizeof pcMode);
    EXPECT_STREQ(pcMode, kDefaultMode);
    ParseArgs({"-c2", "-b9600", "-pe", "-s1", "-d7", "-x"});
    FormatSerialMode(pcMode, sizeof pcMode);
    EXPECT_STREQ(pcMode, "baud=9600 parity=e data=7 stop=1 to=off xon=on odsr=off octs=off dtr=off "
                         "rts=off idsr=off");
    ParseArgs({"-c1", "-b4294967295", "-d255", "-s255"});
    FormatSerialMode(pcMode, sizeof pcMode);
    EXPECT_EQ(std::strlen(pcMode), 99u);
    EXPECT_STREQ(pcMode + 92, "idsr=of");
}

struct ModeCase {
    const char* pcMode;
    std::uint32_t ulBaud;
    char cParity;
    int iDataBits;
    SerialStopBits eStop;
    bool bXon;
};

TEST(SerialMode, AcceptedStrings)
{
    const ModeCase cases[] = {
        {kDefaultMode, 57600, 'n', 8, SERIAL_STOP_2, false},
        {"BAUD=9600 Parity=E DATA=7 STOP=1 XON=ON", 9600, 'e', 7, SERIAL_STOP_1, true},
        {"  baud=110   parity=M data=5 stop=1.5  ", 110, 'm', 5, SERIAL_STOP_1_5, false},
        {"baud=12345 parity=s data=6 stop=2 xon=Off dtr=on", 12345, 's', 6, SERIAL_STOP_2, false},
        {"parity=o baud=4294967295", 4294967295u, 'o', 0, SERIAL_STOP_1, false},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.pcMode);
        SerialMode sMode;
        sMode.ulBaudRate = 1;
        ASSERT_TRUE(BuildSerialMode(c.pcMode, &sMode));
        EXPECT_EQ(sMode.ulBaudRate, c.ulBaud);
        EXPECT_EQ(sMode.cParity, c.cParity);
        EXPECT_EQ(sMode.ui8DataBits, c.iDataBits);
        EXPECT_EQ(sMode.eStopBits, c.eStop);
        EXPECT_EQ(sMode.bXon, c.bXon);
        EXPECT_FALSE(sMode.bOutCts || sMode.bOutDsr || sMode.bInDsr || sMode.bRts);
    }
}

TEST(SerialMode, RejectedStrings)
{
    for (const char* pcMode :
         {"96,n,8,1",
          "baud=9600,parity=n",
          "speed=9600",
          "baud =9600",
          "baud=",
          "baud=96x",
          "baud=4294967296",
          "parity=no",
          "parity=x",
          "parity=",
          "parity= n",
          "data=4",
          "data=9",
          "data=8x",
          "stop=0",
          "stop=3",
          "stop=1.5x",
          "to=foobar",
          "xon=o",
          "dtr=onn",
          "baud=57600 parity=n data=8 stop=2 to=off xon=off odsr=off octs=off dtr=off rts=off idsr=of"}) {
        SerialMode sMode;
        EXPECT_FALSE(BuildSerialMode(pcMode, &sMode)) << pcMode;
    }
}

TEST(SerialPort, DeviceNamedByTheCValue)
{
    char pcBuf[SERIAL_NAME_SIZE];
    EXPECT_STREQ(SerialDevicePath('1', "", pcBuf, sizeof pcBuf), "/dev/ttyS0");
    EXPECT_STREQ(SerialDevicePath('9', "", pcBuf, sizeof pcBuf), "/dev/ttyS8");
    for (char c : {'A', '0', '\0', ':'})
        EXPECT_STREQ(SerialDevicePath(c, "", pcBuf, sizeof pcBuf), "") << c;
    ParseArgs({"-c/dev/ttyUSB0"});
    EXPECT_STREQ(SerialDevicePath(lk_cPort, lk_pcSerialPath, pcBuf, sizeof pcBuf), "/dev/ttyUSB0");
    ParseArgs({"-c/dev/ttyUSB0", "-c3"});
    EXPECT_STREQ(SerialDevicePath(lk_cPort, lk_pcSerialPath, pcBuf, sizeof pcBuf), "/dev/ttyS2");
}

struct TermiosCase {
    Strings args;
    std::uint32_t ulSpeed;
    tcflag_t cflagSet;  // of CSTOPB, PARODD, CMSPAR
    bool bXon;
};

// What a pseudo-terminal keeps of the line settings: speed, stop bits, the
// parity kind, flow control, raw mode (it forces 8 bits without parity).
TEST(SerialPort, TerminalSettingsAfterInitSerial)
{
    const TermiosCase cases[] = {
        {{}, 57600, CSTOPB, false},
        {{"-b9600", "-pe", "-s1", "-x"}, 9600, 0, true},
        {{"-po", "-s1"}, 57600, PARODD, false},
        {{"-pm"}, 57600, CSTOPB | PARODD | CMSPAR, false},
        {{"-pS", "-d7"}, 57600, CSTOPB | CMSPAR, false},
        {{"-b12345"}, 12345, CSTOPB, false},
        {{"-b4000000"}, 4000000, CSTOPB, false},
    };
    for (const TermiosCase& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "defaults" : c.args[0]);
        PtyPair pty;
        Strings args = {pty.PortArg()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        OpenPort(args);
        termios t;
        ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
        EXPECT_EQ(TerminalSpeed(pty.Slave()), c.ulSpeed);
        ClosePort();
        EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD | CMSPAR), c.cflagSet);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.bXon ? IXON | IXOFF : 0u);
        EXPECT_EQ(t.c_iflag & (BRKINT | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL | HUPCL | CRTSCTS), CREAD | CLOCAL);
    }
}

// SerialRead in-process on a pty, with or without a receive time-out.
class SerialReadRules : public ::testing::Test {
protected:
    void Open(const char* pcReceive) { OpenPort({m_pty.PortArg(), pcReceive}); }
    void TearDown() override { ClosePort(); }

    PtyPair m_pty;
    unsigned char m_pucBuf[1024] = {};
};

TEST_F(SerialReadRules, FillsTheBufferThenEndsAfterTheGap)
{
    Open("-r30");
    const std::string data = Noise(1500, 4);
    m_pty.Send(data);
    const Clock::time_point tStart = Clock::now();
    ASSERT_EQ(SerialRead(SerialLinkPort(), m_pucBuf, 1024), 1024);
    std::string got(reinterpret_cast<char*>(m_pucBuf), 1024);
    // The rest ends by the silence after it, long before the 30 s time-out.
    ASSERT_EQ(SerialRead(SerialLinkPort(), m_pucBuf, 1024), 476);
    got.append(reinterpret_cast<char*>(m_pucBuf), 476);
    EXPECT_LT(SecondsSince(tStart), 10.0);
    EXPECT_EQ(got, data);
}

TEST_F(SerialReadRules, SilenceEndsTheReadWithNothing)
{
    // With a time-out its seconds; without one 10 ms per requested byte.
    for (auto [pcReceive, iSize, dMin] : {std::tuple{"-r1", 1024, 0.9}, std::tuple{"-r", 30, 0.25}}) {
        SCOPED_TRACE(pcReceive);
        Open(pcReceive);
        const Clock::time_point tStart = Clock::now();
        EXPECT_EQ(SerialRead(SerialLinkPort(), m_pucBuf, iSize), 0);
        EXPECT_GE(SecondsSince(tStart), dMin);
        EXPECT_LT(SecondsSince(tStart), 10.0);
        ClosePort();
    }
}

TEST_F(SerialReadRules, HangUpFailsReadsAndWritesAtOnce)
{
    Open("-r");
    m_pty.HangUp();
    const Clock::time_point tStart = Clock::now();
    for (int i = 0; i < 2; ++i) {
        errno = 0;
        EXPECT_EQ(SerialRead(SerialLinkPort(), m_pucBuf, 1024), SERIAL_SYSTEM_FAILURE);
        EXPECT_EQ(errno, EIO);
    }
    EXPECT_LT(SecondsSince(tStart), 5.0);
    EXPECT_EQ(SerialWrite(SerialLinkPort(), m_pucBuf, 10), SERIAL_REFUSED);
}

// The real binary on a pty.

struct SendCase {
    Strings args;
    std::string input;
    std::string device;
};

TEST(SerialLink, SendsTheInputUnchanged)
{
    // Every byte value, CR LF and the XON/XOFF bytes among them; the remote
    // console says r1 on the serial link.
    const std::string all = AllByteValues(64);
    const SendCase cases[] = {
        {{}, all, all},
        {{"-t"}, "DATA", std::string("\x01RCRA--r1\x17\x01RCRB--r1\x17\x01TK\x17\x01TD\x17") + "DATA"},
        {{"-x", "-b12345"}, "line\r\nend\n", "line\r\nend\n"},
        {{}, "", ""},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(no options)" : c.args[0]);
        PtyPair pty;
        PtyCollector device(pty);
        Strings args = {pty.PortArg()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = RunArgs(args, c.input);
        EXPECT_TRUE(r.bExited && r.iStatus == 0 && r.out.empty() && r.err.empty()) << r.err;
        EXPECT_EQ(device.Stop(), c.device);
    }
}

TEST(SerialLink, SendsAndReceivesAtOnceUntilTheTimeout)
{
    PtyPair pty;
    PtyCollector device(pty);
    RunSetup sSetup;
    sSetup.args = {pty.PortArg(), "-r2"};
    sSetup.input = AllByteValues(64);
    SenderProcess sender(sSetup);
    ASSERT_TRUE(pty.WaitRaw());
    // The reply comes in pieces with short pauses.
    const std::string reply = AllByteValues(16) + Noise(20000, 7);
    pty.Send(reply, 1000);
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_TRUE(r.out == reply) << r.out.size() << " bytes received";
    EXPECT_TRUE(device.Stop() == sSetup.input);
}

// -f: the trace holds every byte that the device got and sent.
TEST(SerialLink, TraceHoldsWhatTheDeviceGotAndSent)
{
    PtyPair pty;
    PtyCollector device(pty);
    ScratchDir dir;
    RunSetup sSetup;
    sSetup.args = {pty.PortArg(), "-t", "-r2", "-f" + dir.Path("trace")};
    sSetup.input = AllByteValues(64);
    SenderProcess sender(sSetup);
    ASSERT_TRUE(pty.WaitRaw());
    const std::string reply = Noise(20000, 5);
    pty.Send(reply, 1000);
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    const std::string got = device.Stop();
    EXPECT_TRUE(got == std::string("\x01RCRA--r1\x17\x01RCRB--r1\x17\x01TK\x17\x01TD\x17") + sSetup.input);
    std::string errors;
    const std::vector<TraceEntry> records = ParseTrace(ReadFile(dir.Path("trace")), &errors);
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(TraceBytes(records, true) == got);
    EXPECT_TRUE(TraceBytes(records, false) == reply);
}

TEST(SerialLink, SilentPortTimesOut)
{
    for (auto [pcReceive, iStatus] : {std::pair{"-r1", 0}, std::pair{"-rt1", 1}}) {
        SCOPED_TRACE(pcReceive);
        PtyPair pty;
        const Clock::time_point tStart = Clock::now();
        RunResult r = RunArgs({pty.PortArg(), pcReceive});
        EXPECT_EQ(r.iStatus, iStatus);
        EXPECT_EQ(r.err, "Timeout\n");
        EXPECT_GE(SecondsSince(tStart), 0.9);
        EXPECT_LT(SecondsSince(tStart), 15.0);
    }
}

TEST(SerialLink, WithoutTimeoutKeepsReadingUntilTheLineHangsUp)
{
    // A silent port without time-out: reads end empty every 10.24 s and are
    // repeated. Meanwhile the line settings are in force and the port is
    // taken; a late reply still arrives, and the hang-up ends the run.
    PtyPair pty;
    RunSetup sSetup;
    sSetup.args = {pty.PortArg(), "-r", "-b9600", "-po", "-s1", "-x"};
    SenderProcess sender(sSetup);
    ASSERT_TRUE(pty.WaitRaw());
    termios t;
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(TerminalSpeed(pty.Slave()), 9600u);
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

    RunResult second = RunArgs({pty.PortArg()}, "not sent");
    EXPECT_EQ(second.iStatus, 240);
    EXPECT_EQ(second.err, "Device or resource busy\n");

    std::this_thread::sleep_for(std::chrono::milliseconds(11000));
    pty.Send("late");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty.HangUp();
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 250);
    EXPECT_EQ(r.out, "late");
    EXPECT_EQ(r.err, kHungUp);
}

TEST(SerialLink, HangUpWhileSending)
{
    // Nobody reads the device side and the input has no end, so the sender is
    // still writing when the line goes, however much the terminal buffers;
    // with a receiver either thread may meet the hang-up first.
    for (bool bReceive : {false, true}) {
        SCOPED_TRACE(bReceive ? "with receiver" : "without receiver");
        PtyPair pty;
        RunSetup sSetup;
        sSetup.args = {pty.PortArg()};
        if (bReceive)
            sSetup.args.push_back("-r");
        sSetup.stdinPath = kEndlessInput;
        SenderProcess sender(sSetup);
        ASSERT_TRUE(pty.WaitRaw());
        pty.HangUp();
        RunResult r = sender.Wait();
        const std::string sSend = "error during sending\n";
        if (!bReceive) {
            EXPECT_EQ(r.iStatus, 251);
            EXPECT_EQ(r.err, sSend);
            continue;
        }
        // Whichever thread meets it first reports it, alone.
        EXPECT_TRUE(r.iStatus == 250 || r.iStatus == 251) << r.iStatus;
        EXPECT_EQ(r.err, r.iStatus == 250 ? kHungUp : sSend);
    }
}

struct FailureCase {
    Strings args;  // a leading "PTY" stands for the pty's -c option
    const char* pcErr;
};

TEST(SerialLink, PortFailuresEndWith240)
{
    const FailureCase cases[] = {
        {{"-c/nonexistent-dir/tty0"}, kNoFile},
        {{"-cA"}, kNoFile},
        {{"-c"}, kNoFile},
        {{"-c/nonexistent-dir/tty0", "-pq"}, kNoFile},  // the open fails before the mode
        {{"-c/dev/null"}, "Inappropriate ioctl for device\n"},
        {{"PTY", "-pq"}, kSerialError},
        {{"PTY", "-p"}, kSerialError},
        {{"PTY", "-d9"}, kSerialError},
        {{"PTY", "-d5"}, kSerialError},  // 5 data bits cannot have 2 stop bits
        {{"PTY", "-s3"}, kSerialError},
        {{"PTY", "-b0"}, kSerialError},
    };
    for (const FailureCase& c : cases) {
        PtyPair pty;
        Strings args = c.args;
        if (args[0] == "PTY")
            args[0] = pty.PortArg();
        SCOPED_TRACE(args.back());
        RunResult r = RunArgs(args, "data");
        EXPECT_EQ(r.iStatus, 240);
        EXPECT_EQ(r.err, c.pcErr);
        EXPECT_EQ(r.out, "");
    }
}

TEST(SerialLink, PortLockedByAnotherProgramIsBusy)
{
    // Root is not stopped by the terminal's exclusive mode; the advisory lock
    // that other programs take stops the sender.
    PtyPair pty;
    int fd = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    RunResult r = RunArgs({pty.PortArg()}, "data");
    close(fd);
    EXPECT_EQ(r.iStatus, 240);
    EXPECT_EQ(r.err, "Device or resource busy\n");
}

// Every way a run ends releases the port: a later run by an ordinary user
// (whom the terminal's exclusive mode stops, unlike root) opens it, while the
// device side of the line stays open.
TEST(SerialLink, EveryEndingReleasesThePort)
{
    struct Ending {
        Strings args;
        std::string answer;  // sent by the device once the port is set up
        int iSignal;         // sent to the run instead
        int iStatus;
    };
    const std::string SOH = "\x01", ETB = "\x17";
    const Ending endings[] = {
        {{}, "", 0, 0},
        {{"-r5", "-o/dev/full"}, "hello", 0, 250},
        {{"-d5"}, "", 0, 240},
        {{"-r5", "-l", "-m0"}, SOH + "TD\"hi\"" + ETB, 0, 0},
        {{"-r5", "-l"}, SOH + "AOK;2" + ETB + "ok", 0, 0},
        {{"-tx", "-l", "-r"}, SOH + "TD\"Restart\"" + ETB, 0, 0},
        {{"-rs"}, "", 0, 0},
        {{"-rt1"}, "", 0, 1},
        {{"-r"}, "", SIGTERM, SIGTERM},
        {{"-r"}, "", SIGINT, SIGINT},
        {{"-r"}, "", SIGQUIT, SIGQUIT},
        {{"-r"}, "", SIGUSR1, SIGUSR1},
    };
    RunSetup sUser;
    if (!UnprivilegedUser(&sUser)) {
        GTEST_SKIP() << "no unprivileged user that can run the program";
    }
    for (const Ending& e : endings) {
        PtyPair pty;
        SCOPED_TRACE(testing::PrintToString(e.args) + " signal " + std::to_string(e.iSignal));
        ASSERT_EQ(chmod(pty.Path().c_str(), 0666), 0);
        RunSetup sSetup = sUser;
        sSetup.args = {pty.PortArg()};
        sSetup.args.insert(sSetup.args.end(), e.args.begin(), e.args.end());
        sSetup.input = "job";
        SenderProcess sender(sSetup);
        if (!e.answer.empty() || e.iSignal != 0) {
            ASSERT_TRUE(pty.WaitRaw());
        }
        if (!e.answer.empty())
            pty.Send(e.answer);
        if (e.iSignal != 0)
            sender.Signal(e.iSignal);
        RunResult r = sender.Wait();
        EXPECT_EQ(r.iStatus, e.iStatus) << r.err;
        EXPECT_EQ(r.bExited, e.iSignal == 0);

        sSetup.args = {pty.PortArg()};
        r = RunMorlink(sSetup);
        EXPECT_EQ(r.iStatus, 0) << "the next run cannot open the port: " << r.err;
    }
}

// -j: the record names the port as it was opened; a port has no port number.
TEST(SerialLink, RecordNamesThePort)
{
    PtyPair pty;
    PtyCollector device(pty);
    RunSetup sSetup;
    sSetup.args = {pty.PortArg(), "-e2", "-t", "-j"};
    sSetup.input = "job";
    RunResult r = RunMorlink(sSetup);
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(device.Stop().size(), 28u + 3u);
    std::vector<RecordFields> records = ParseRecords(r.err);
    ASSERT_EQ(records.size(), 1u) << r.err;
    const RecordFields expected = {{"link", "\"serial\""}, {"device", "\"" + pty.Path() + "\""},
                                   {"port", "null"},       {"sent", "3"},
                                   {"frames", "28"},       {"confirmed", "true"}};
    for (const auto& [sName, sValue] : expected)
        EXPECT_EQ(RecordField(records[0], sName), sValue) << sName;

    // -c1 is the first port; the run ends before it is opened.
    r = RunArgs({"-c1", "-j", "-zz"});
    records = ParseRecords(r.err);
    ASSERT_EQ(records.size(), 1u) << r.err;
    EXPECT_EQ(RecordField(records[0], "device"), "\"/dev/ttyS0\"");
}

// -w: a port that is missing at first (an adapter that comes back) is opened
// once it is there; -e: the run ends once the port has sent everything.
TEST(SerialLink, WaitsForAMissingPortAndConfirmsTheEnd)
{
    PtyPair pty;
    ScratchDir dir;
    const std::string sLink = dir.Path("ttyUSB9");
    PtyCollector device(pty);
    std::thread back([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        EXPECT_EQ(symlink(pty.Path().c_str(), sLink.c_str()), 0);
    });
    RunSetup sSetup;
    sSetup.args = {"-c" + sLink, "-w5", "-e2"};
    sSetup.input = "job";
    RunResult r = RunMorlink(sSetup);
    back.join();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_GE(r.dWall, 0.9);
    EXPECT_EQ(device.Stop(), "job");

    r = RunArgs({"-c" + dir.Path("never"), "-w1"}, "job");
    EXPECT_EQ(r.iStatus, 240);
    EXPECT_EQ(r.err, kNoFile);
    EXPECT_GE(r.dWall, 0.95);
}

}  // namespace
