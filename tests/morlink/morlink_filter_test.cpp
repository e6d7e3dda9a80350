// The answer filter, driven block by block through its I/O hooks: what it
// writes, what it consumes, and when it ends the session.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"
#include "filter.h"
#include "platform.h"
#include "settings.h"

namespace {

struct Recorder {
    std::string out;
    int endCode = -1;          // -1: still running
    int writeLimit = 1 << 30;  // largest count one write accepts
    bool failWrites = false;
    bool discard = false;  // count nothing of what is written
    bool terminal = false;
    std::uint64_t pausedMs = 0;
} rec;

int RecWrite(int, const void* p, int len)
{
    if (rec.failWrites)
        return -1;
    int n = std::min(len, rec.writeLimit);
    if (rec.discard)
        return n;
    rec.out.append(static_cast<const char*>(p), static_cast<size_t>(n));
    return n;
}
void RecEnd(int code)
{
    rec.endCode = code;
}
bool RecClear(int)
{
    if (rec.terminal)
        rec.out += "<clear>";
    return true;
}
void RecPause(std::uint64_t ms)
{
    rec.pausedMs += ms;
}

const FilterIo kRecIo = {RecWrite, RecEnd, RecClear, RecPause};

const std::string SOH = "\x01", ETB = "\x17", Q = "\"";
const std::string CLEAR = "<clear>";

class Filter : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitSettings();
        lk_bXDCL = 1;
        lk_sXDCLMode = 1;
        rec = Recorder{};
        FilterSetIo(&kRecIo);
        FilterReset();
    }
    void TearDown() override { FilterSetIo(nullptr); }

    // One call of the filter; returns what it consumed.
    int Call(const std::string& block)
    {
        return HandleData(1, reinterpret_cast<const unsigned char*>(block.data()), static_cast<int>(block.size()));
    }

    // Hands a received block over as the receiver does.
    void Feed(const std::string& block)
    {
        FilterConsume(1, reinterpret_cast<const unsigned char*>(block.data()), static_cast<int>(block.size()));
    }

    // Hands a block to single calls until all of it is consumed: the counts
    // that each call consumed.
    std::vector<int> Calls(const std::string& block)
    {
        std::vector<int> counts;
        for (int done = 0; done < static_cast<int>(block.size()) && rec.endCode < 0;) {
            const int n = Call(block.substr(static_cast<size_t>(done)));
            EXPECT_GT(n, 0) << "a call must consume something";
            if (n <= 0)
                break;
            counts.push_back(n);
            done += n;
        }
        return counts;
    }

    // Feeds a stream cut into blocks at the given positions.
    void FeedCut(const std::string& stream, const std::vector<size_t>& cuts)
    {
        size_t from = 0;
        for (size_t cut : cuts) {
            Feed(stream.substr(from, cut - from));
            from = cut;
        }
        Feed(stream.substr(from));
    }
};

TEST_F(Filter, PassThroughWritesUnchangedAndReportsShortWrites)
{
    lk_bXDCL = 0;
    EXPECT_EQ(Call("abc" + SOH + "TD\"x\"" + ETB), 10);
    EXPECT_EQ(rec.out, "abc" + SOH + "TD\"x\"" + ETB);
    rec.out.clear();
    rec.writeLimit = 2;
    EXPECT_EQ(Call("abcde"), 2) << "a short write is no failure; the caller hands over the rest";
    EXPECT_EQ(Calls("abcde"), (std::vector<int>{2, 2, 1}));
    rec.failWrites = true;
    Call("abc");
    EXPECT_EQ(rec.endCode, ERR_RECEIVE);
}

TEST_F(Filter, BlocksWithoutAnswersPassUnchanged)
{
    EXPECT_EQ(Call("plain text\r\n"), 12);
    EXPECT_EQ(rec.out, "plain text\r\n");
    EXPECT_EQ(rec.endCode, -1);
}

TEST_F(Filter, QuotedTextShownWithLineEndInMode1AndEndsMode0)
{
    std::string block = SOH + "TD" + Q + "Hello" + Q + ETB;
    EXPECT_EQ(Call(block), static_cast<int>(block.size()));
    EXPECT_EQ(rec.out, "Hello\n");
    EXPECT_EQ(rec.endCode, -1);

    rec = Recorder{};
    lk_sXDCLMode = 0;
    Call(block);
    EXPECT_EQ(rec.out, "Hello");
    EXPECT_EQ(rec.endCode, 0);
}

TEST_F(Filter, ReplyShownWholeAndRestComesBack)
{
    std::string block = "xy" + SOH + "AA17" + ETB + "z";
    EXPECT_EQ(Call(block), 8);
    EXPECT_EQ(rec.out, SOH + "AA17" + ETB + "\n") << "bytes before the answer are not shown";
    EXPECT_EQ(Call("z"), 1);
    EXPECT_EQ(rec.out, SOH + "AA17" + ETB + "\nz");
}

TEST_F(Filter, OtherAnswersAndModeZero)
{
    Feed(SOH + ETB + "ab" + SOH + "XY" + ETB + "cd");
    EXPECT_EQ(rec.out, SOH + ETB + "ab" + SOH + "XY" + ETB + "\ncd")
        << "an end byte right after the start byte is the answer's first byte";

    rec = Recorder{};
    lk_sXDCLMode = 0;
    Call(SOH + "XYZ" + ETB + "after");
    EXPECT_EQ(rec.out, SOH + "XYZ" + ETB);
    EXPECT_EQ(rec.endCode, 0);
}

TEST_F(Filter, AbandonedAnswersShownUpToTheOffendingByte)
{
    EXPECT_EQ(Call(SOH + "TK" + ETB), 3);
    EXPECT_EQ(rec.out, SOH + "TK\n");
    EXPECT_EQ(Call(ETB), 1);
    EXPECT_EQ(rec.out, SOH + "TK\n" + ETB);

    // "AO" and "AOK" abandoned at the very end of a block are shown all the same.
    for (const std::string& frame : {SOH + "AOx", SOH + "AOKx", SOH + "TDx"}) {
        rec = Recorder{};
        FilterReset();
        EXPECT_EQ(Call(frame), static_cast<int>(frame.size()));
        EXPECT_EQ(rec.out, frame + "\n") << frame.substr(1);
    }
}

TEST_F(Filter, SizeAnswerCountsDownAndEnds)
{
    Feed(SOH + "AOK;5" + ETB + "abcdefg");
    EXPECT_EQ(rec.out, "abcdefg");
    EXPECT_EQ(rec.endCode, 0);

    SetUp();
    Feed(SOH + "AOK;10" + ETB + "abcd");
    Feed("efgh");
    EXPECT_EQ(rec.endCode, -1);
    Feed("ij");
    EXPECT_EQ(rec.out, "abcdefghij");
    EXPECT_EQ(rec.endCode, 0);

    SetUp();
    Feed("xy" + SOH + "AOK;10" + ETB + "abcd");
    Feed("efghij");
    EXPECT_EQ(rec.out, "xyabcdefghij") << "bytes before a size answer are shown, and do not count";
    EXPECT_EQ(rec.endCode, 0);

    SetUp();
    Feed(SOH + "AOK;3;77" + ETB + "abc");
    EXPECT_EQ(rec.out, "abc");
    EXPECT_EQ(rec.endCode, 0);

    SetUp();
    Feed(SOH + "AAxyz*4" + ETB + "data");
    EXPECT_EQ(rec.out, "data");
    EXPECT_EQ(rec.endCode, 0);
}

TEST_F(Filter, SizeDigitsCarryAcrossThreeBlocks)
{
    Feed(SOH + "AOK;1");
    Feed("2");
    Feed("3" + ETB + std::string(100, 'd'));
    EXPECT_EQ(rec.endCode, -1);
    Feed(std::string(22, 'e'));
    EXPECT_EQ(rec.endCode, -1);
    Feed("f");
    EXPECT_EQ(rec.out, std::string(100, 'd') + std::string(22, 'e') + "f");
    EXPECT_EQ(rec.endCode, 0);
}

TEST_F(Filter, SizeZeroPassesEverythingForever)
{
    Feed(SOH + "AOK;0" + ETB + "rest");
    Feed(SOH + "TD" + Q + "x" + Q + ETB);
    EXPECT_EQ(rec.out, "rest" + SOH + "TD" + Q + "x" + Q + ETB);
    EXPECT_EQ(rec.endCode, -1);
}

// Sizes beyond 32 bits stay large instead of wrapping to a small count.
TEST_F(Filter, OversizedSizeSaturates)
{
    for (const std::string& digits : {std::string("4294967297"), std::string(40, '9')}) {
        SetUp();
        // The countdown is 2^32 - 1 bytes: the data end one byte short of
        // that, then the next byte ends the session.
        Feed(SOH + "AOK;" + digits + ETB);
        rec.discard = true;
        const std::string block(64 << 20, 'c');
        std::uint64_t ullLeft = UINT32_MAX - 1;
        for (; ullLeft >= block.size(); ullLeft -= block.size())
            EXPECT_EQ(Call(block), static_cast<int>(block.size()));
        Feed(block.substr(0, ullLeft));
        EXPECT_EQ(rec.endCode, -1) << digits;
        Feed("c");
        EXPECT_EQ(rec.endCode, 0) << digits;
    }
}

TEST_F(Filter, NumberFieldToleratesThirtyTwoOtherBytes)
{
    // A second number abandoned: the first number's size still counts down.
    std::string frame2 = SOH + "AOK;5;" + std::string(33, 'y');
    Feed(frame2 + "abcdefgh");
    EXPECT_EQ(rec.out, frame2 + "\nabcdefgh");
    EXPECT_EQ(rec.endCode, 0);

    SetUp();
    Feed(SOH + "AOK;" + std::string(32, 'x') + "5" + ETB + "abcde");
    EXPECT_EQ(rec.out, "abcde");
    EXPECT_EQ(rec.endCode, 0);

    SetUp();
    std::string frame = SOH + "AOK;" + std::string(33, 'x');
    EXPECT_EQ(Call(frame + "5" + ETB), static_cast<int>(frame.size()));
    EXPECT_EQ(rec.out, frame + "\n") << "the 33rd other byte abandons the answer";
    EXPECT_EQ(rec.endCode, -1);
}

// What may go to the filter in one call instead of 1024-byte pieces: the
// bytes it passes unchanged, up to the piece in which a countdown ends.
TEST_F(Filter, BulkLengthStopsAtThePieceWhereTheCountdownEnds)
{
    EXPECT_EQ(FilterBulkLength(5000), 0) << "answers are parsed piece by piece";
    Feed(SOH + "AOK;10" + ETB);
    EXPECT_EQ(FilterBulkLength(5000), 1024);
    EXPECT_EQ(FilterBulkLength(700), 700);
    SetUp();
    Feed(SOH + "AOK;3000" + ETB);
    EXPECT_EQ(FilterBulkLength(65536), 3072);
    SetUp();
    Feed(SOH + "AOK;0" + ETB);
    EXPECT_EQ(FilterBulkLength(65536), 65536) << "a size of 0 passes everything";
    SetUp();
    lk_bXDCL = 0;
    EXPECT_EQ(FilterBulkLength(65536), 65536);
}

// Receiving ends with an answer unfinished: it is written as it came.
TEST_F(Filter, FlushWritesTheHeldAnswerAsSent)
{
    const std::string cases[] = {SOH + "XYZ partial", SOH + "TD" + Q + "Hel", SOH + "TD" + Q + "Hi" + Q + "x",
                                 SOH + "AOK;12;3", SOH};
    for (const std::string& held : cases) {
        SetUp();
        Feed("ab" + held);
        FilterFlush(1);
        EXPECT_EQ(rec.out, "ab" + held);
        FilterFlush(1);
        Feed("cd");
        EXPECT_EQ(rec.out, "ab" + held + "cd") << "flushed once, then parsing starts afresh";
    }
    SetUp();
    Feed(SOH + "AOK;3" + ETB + "a");
    FilterFlush(1);
    EXPECT_EQ(rec.out, "a") << "binary data are never held";
    SetUp();
    rec.failWrites = true;
    Feed("zz" + SOH + "TD" + Q + "x");
    rec.failWrites = false;
    FilterFlush(1);
    EXPECT_EQ(rec.out, "") << "nothing after a failed write";
}

TEST_F(Filter, OtherFrameCharacters)
{
    lk_cSOH = 0x5E;
    lk_cETB = 0x5F;
    Feed("^TD\"hi\"_");
    Feed("\x01TD\"no\"\x17");
    Feed("^AA1_");
    EXPECT_EQ(rec.out, "hi\n\x01TD\"no\"\x17^AA1_\n");
}

TEST_F(Filter, RemoteConsoleClearsBeforeAnswersAndExitsOnRestart)
{
    lk_bRemCon = 1;
    rec.terminal = true;
    Feed("pre" + SOH + "TD" + Q + "one" + Q + ETB + "mid" + SOH + "AOK;2" + ETB + "xy");
    EXPECT_EQ(rec.out, CLEAR + "one\nmid" + "xy") << "no clearing before bytes that are no answer text";

    SetUp();
    lk_bRemCon = 1;  // not a terminal: no clear sequence at all
    Feed(SOH + "TD" + Q + "one" + Q + ETB);
    EXPECT_EQ(rec.out, "one\n");

    SetUp();
    lk_bRemCon = 1;
    lk_bRemConExitWhenReset = 1;
    lk_ulTimeout = 2;
    rec.terminal = true;
    Feed(SOH + "TD" + Q + "Restart now" + Q + ETB);
    EXPECT_EQ(rec.out, CLEAR + "Restart now");
    EXPECT_EQ(rec.pausedMs, 2000u);
    EXPECT_EQ(rec.endCode, 0);
}

TEST_F(Filter, RestartPauseComputedIn64Bits)
{
    lk_bRemConExitWhenReset = 1;
    lk_ulTimeout = 5000000;  // 5e9 ms does not fit 32 bits
    Feed(SOH + "TD" + Q + "Restart" + Q + ETB);
    EXPECT_EQ(rec.pausedMs, 5000000000ull);
}

TEST_F(Filter, EveryAnswerOfABlockIsShownInTurn)
{
    std::vector<int> counts = Calls(SOH + "AA1" + ETB + SOH + "AU2" + ETB + SOH + "AOx" + SOH + "Z" + ETB);
    EXPECT_EQ(rec.out, SOH + "AA1" + ETB + "\n" + SOH + "AU2" + ETB + "\n" + SOH + "AOx\n" + SOH + "Z" + ETB + "\n");
    EXPECT_EQ(counts, (std::vector<int>{5, 5, 4, 3}));
}

TEST_F(Filter, FailedWriteOfAnAnswerEnds250)
{
    rec.failWrites = true;
    Call(SOH + "TD" + Q + "x" + Q + ETB);
    EXPECT_EQ(rec.endCode, ERR_RECEIVE);
}

// A stream of every kind of answer, and what one read of it shows (mode 1).
// No plain bytes stand right before a shown answer: those are shown only when
// the answer does not end in the same call.
struct Stream {
    std::string bytes, shown;
};

Stream Kinds()
{
    Stream s;
    auto add = [&](const std::string& b, const std::string& shown) {
        s.bytes += b;
        s.shown += shown;
    };
    add(SOH + "TD" + Q + "quoted text" + Q + "junk" + ETB, "quoted text\n");
    add(SOH + "AA reply" + ETB, SOH + "AA reply" + ETB + "\n");
    add(SOH + "Xother" + ETB, SOH + "Xother" + ETB + "\n");
    add(SOH + "TX", SOH + "TX\n");
    add(SOH + "AOK;" + std::string(40, 'x'), SOH + "AOK;" + std::string(33, 'x') + "\n" + std::string(7, 'x'));
    add(SOH + "AU a*12;7" + ETB +
            "binary\x01\x17"
            "data",
        "binary\x01\x17"
        "data");
    return s;
}

TEST_F(Filter, FramesCutAnywhereAreShownAsInOneRead)
{
    Stream s = Kinds();
    Feed(s.bytes);
    ASSERT_EQ(rec.out, s.shown);
    ASSERT_EQ(rec.endCode, 0);
    for (size_t cut = 1; cut < s.bytes.size(); cut++) {
        SetUp();
        FeedCut(s.bytes, {cut});
        ASSERT_EQ(rec.out, s.shown) << "cut at " << cut;
        ASSERT_EQ(rec.endCode, 0);
        SetUp();
        FeedCut(s.bytes, {cut / 2, cut});
        ASSERT_EQ(rec.out, s.shown) << "cuts at " << cut / 2 << " and " << cut;
    }
    SetUp();
    for (char c : s.bytes)
        Feed(std::string(1, c));
    EXPECT_EQ(rec.out, s.shown) << "single bytes";
}

TEST_F(Filter, AnswersLongerThanTheHoldBufferKeepEveryByte)
{
    std::string body;
    for (int i = 0; i < 10000; i++)
        body += static_cast<char>('a' + i % 26);
    std::string stream = SOH + "AA" + body + ETB + SOH + "TD" + Q + body + Q + ETB;
    for (size_t block : {size_t{1024}, size_t{1}, size_t{7000}}) {
        SetUp();
        for (size_t from = 0; from < stream.size(); from += block)
            Feed(stream.substr(from, block));
        EXPECT_EQ(rec.out, SOH + "AA" + body + ETB + "\n" + body + "\n") << "blocks of " << block;
    }
}

}  // namespace

namespace {

// The remote console is cleared with the terminal's own sequence, and only on
// a terminal: a pipe or a file gets no clearing bytes.
TEST(ClearScreen, TerminalGetsTheClearSequenceAPipeNothing)
{
    int fdMaster = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(fdMaster, 0);
    ASSERT_EQ(grantpt(fdMaster), 0);
    ASSERT_EQ(unlockpt(fdMaster), 0);
    int fdTerminal = open(ptsname(fdMaster), O_RDWR | O_NOCTTY);
    ASSERT_GE(fdTerminal, 0);
    termios sRaw;
    tcgetattr(fdTerminal, &sRaw);
    cfmakeraw(&sRaw);
    tcsetattr(fdTerminal, TCSANOW, &sRaw);
    EXPECT_TRUE(PlatClearScreen(fdTerminal));
    char pcBuf[64];
    ssize_t n = read(fdMaster, pcBuf, sizeof pcBuf);
    EXPECT_EQ(std::string(pcBuf, static_cast<size_t>(n > 0 ? n : 0)), "\x1b[H\x1b[2J");
    close(fdTerminal);
    close(fdMaster);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(PlatClearScreen(fds[1]));
    close(fds[1]);
    EXPECT_EQ(read(fds[0], pcBuf, sizeof pcBuf), 0);
    close(fds[0]);
}

}  // namespace
