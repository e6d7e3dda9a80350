// morlink, the device sender: sends a file or its standard input unchanged to
// the device, after optional command frames, in blocks over the link in use.
//
// main runs once straight through: catalogue, defaults, options, files, link,
// prologue frames, data, end. Every failure on the way ends the process through
// HandleError with the failure's exit code; every end goes through EndProcess,
// which releases the link first.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "ending.h"
#include "errors.h"
#include "filter.h"
#include "frame.h"
#include "link.h"
#include "options.h"
#include "platform.h"
#include "progress.h"
#include "receiver.h"
#include "record.h"
#include "settings.h"
#include "stderrline.h"
#include "trace.h"

namespace {

// Largest input block on UDP and serial links and with -d: the device takes
// one datagram or write per block, and debug output shows one dot a block.
constexpr int BLOCK_SIZE = 1022;
// On a TCP stream the device cannot tell blocks apart: large ones cost fewer
// system calls.
constexpr int STREAM_BLOCK_SIZE = 256 * 1024;
// Each call of the copy inside the system moves up to this many bytes.
constexpr int SEND_FILE_SIZE = 1024 * 1024;
// An input pipe grown to this size lets its writer run ahead by several
// blocks, so that writer and sender change turns less often.
constexpr int INPUT_PIPE_SIZE = 1024 * 1024;
// Frames are built in the buffer's first bytes; their text is cut to 1021.
constexpr int FRAME_SIZE = 1024;

// Holds each frame and each block of input in turn, always from its first byte.
unsigned char pucBuf[STREAM_BLOCK_SIZE];

// The run's files, null for the standard streams.
std::FILE* lk_pFileI;
std::FILE* lk_pFileO;
std::FILE* lk_pFileT;
// The input file's length for the MemCard frame, 0 for standard input.
std::uint32_t lk_ulIFileLen;
// The input file's size, 0 for standard input or when the system cannot tell.
std::uint64_t lk_ullInputSize;

// What may still follow the prologue: with the MemCard frame and a regular
// input file, the length the frame announces, so that a file that grows while
// it is sent is cut there; otherwise the input to its end.
constexpr std::uint64_t NO_LIMIT = UINT64_MAX;
std::uint64_t lk_ullLeft = NO_LIMIT;

// Sends one command frame; its text is cut to 1021 characters.
void SendFrame(const char* pcCommand)
{
    SendData(pucBuf, BuildFrame(pucBuf, FRAME_SIZE, pcCommand), LINK_FRAME);
}

// True when creating pcName would empty the file open on fd, named pcOpen:
// the same name, or another name of the same file. A device or a pipe, such
// as /dev/null, may well be both.
bool NamesOpenFile(int fd, const char* pcOpen, const char* pcName)
{
    if (PlatFileKindOf(fd) == PLAT_FILE_OTHER)
        return false;
    return std::strcmp(pcOpen, pcName) == 0 || PlatSameFile(fd, pcName);
}

// True when standard input reads the regular file pcName.
bool StdinReads(const char* pcName)
{
    const int fdStdin = PlatFileNo(stdin);
    return PlatFileKindOf(fdStdin) == PLAT_FILE_REGULAR && PlatSameFile(fdStdin, pcName);
}

// True when creating pcName would empty the input file before it is sent.
// Standard input counts when it is read from a regular file.
bool IsInput(const char* pcName)
{
    if (lk_pFileI == nullptr)
        return StdinReads(pcName);
    return NamesOpenFile(PlatFileNo(lk_pFileI), lk_pcIFilename, pcName);
}

// True when the result record's file, open on fdRecord, is another of the
// run's files, by name or by identity: the input, the regular file that
// standard input reads, the output or the trace file. Asked at every end,
// also before those files are open, so it goes by their names.
bool RecordIsAnotherFile(int fdRecord)
{
    if (StdinReads(lk_pcRecordFilename))
        return true;
    const char* pcOthers[] = {lk_pcIFilename, lk_pcOFilename, lk_pcTraceFilename};
    for (const char* pcOther : pcOthers)
        if (pcOther[0] != '\0' && NamesOpenFile(fdRecord, lk_pcRecordFilename, pcOther))
            return true;
    return false;
}

// Opens the -j file and refuses it when it is another of the run's files: the
// record then goes to standard error. False when it cannot be opened.
bool CheckRecordFile(void)
{
    if (!RecordOpen())
        return false;
    const int fdRecord = RecordFile();
    if (fdRecord >= 0 && RecordIsAnotherFile(fdRecord)) {
        RecordRefuse();
        return false;
    }
    return true;
}

// -jFILE, opened for appending before the output and the trace file are
// created, so that neither can empty it. A file that cannot be opened or is
// another of the run's files is refused, and the record of such a run goes to
// standard error; a device (such as /dev/null) may well be both.
void OpenRecord(void)
{
    if (!CheckRecordFile()) {
        RecordRefuse();
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    }
}

// -e: 1 when the device confirmed the job, 0 when not; -1 before the wait
// has ended. Set by the main thread, read by whichever thread ends the run.
std::atomic<int> lk_iConfirmed{-1};

// The last hook of every end that morlink reaches itself: the result record
// of -j with what the run did, its file checked first at every end.
void WriteRecord(int iStatus)
{
    if (!RecordWanted())
        return;
    if (lk_pcRecordFilename[0] != '\0')
        CheckRecordFile();
    RecordFields sFields{};
    char pcDevice[RECORD_TEXT_MAX + 1];
    sFields.iPort = LinkDescribe(&sFields.pcLink, pcDevice, sizeof pcDevice);
    sFields.pcDevice = pcDevice;
    sFields.pcInput = lk_pcIFilename[0] != '\0' ? lk_pcIFilename : nullptr;
    const LinkCounts sCounts = LinkCounted();
    sFields.ullSent = sCounts.ullInput;
    sFields.ullFrames = sCounts.ullFrames;
    sFields.ullReceived = sCounts.ullReceived;
    sFields.ullWritten = FilterWritten();
    sFields.iStatus = iStatus;
    sFields.iConfirmed = lk_bConfirmEnd && LinkConfirms() ? lk_iConfirmed.load() == 1 : -1;
    RecordWrite(sFields);
}

// The output, created or emptied. Beside a trace file it is first opened as
// it stands, so that a trace file that is the output is refused before
// anything is emptied; a regular file is then opened anew, emptied.
void OpenOutput(bool bTraceFile)
{
    lk_pFileO = std::fopen(lk_pcOFilename, bTraceFile ? "ab" : "wb");
    if (lk_pFileO == nullptr)
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    if (!bTraceFile)
        return;
    const int fd = PlatFileNo(lk_pFileO);
    if (NamesOpenFile(fd, lk_pcOFilename, lk_pcTraceFilename))
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    if (PlatFileKindOf(fd) == PLAT_FILE_REGULAR && std::freopen(lk_pcOFilename, "wb", lk_pFileO) == nullptr)
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
}

// -f: the trace file, created or emptied, or standard error.
void OpenTrace(void)
{
    if (lk_pcTraceFilename[0] == '\0') {
        TraceStart(2);
        return;
    }
    lk_pFileT = std::fopen(lk_pcTraceFilename, "wb");
    if (lk_pFileT == nullptr || !PlatSetBinary(PlatFileNo(lk_pFileT)))
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    TraceStart(PlatFileNo(lk_pFileT));
}

// Input, result record, output and trace files, opened before the link so
// that a bad name ends the run before any connection is made. A directory
// opens on some systems but cannot be read: it is refused here like a name
// that does not open, rather than after the first frames have gone out. So is
// an output or a trace file that is the input, and a trace file that is the
// output.
void OpenFiles(void)
{
    if (lk_pcIFilename[0] != '\0') {
        lk_pFileI = std::fopen(lk_pcIFilename, "rb");
        if (lk_pFileI == nullptr || PlatFileKindOf(PlatFileNo(lk_pFileI)) == PLAT_FILE_DIRECTORY)
            HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    }
    OpenRecord();
    const bool bTraceFile = lk_bTrace && lk_pcTraceFilename[0] != '\0';
    if (bTraceFile && IsInput(lk_pcTraceFilename))
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    if (lk_pcOFilename[0] != '\0') {
        if (IsInput(lk_pcOFilename))
            HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
        OpenOutput(bTraceFile);
    }
    if (lk_bTrace)
        OpenTrace();
}

// The input file's length for the MemCard frame. The frame carries at most 32
// bits, so a longer file announced with the MemCard frame is refused rather
// than announced with a wrong length.
void TakeInputLength(int fd)
{
    std::uint64_t ullSize = 0;
    if (!PlatFileSize(fd, &ullSize))
        return;
    lk_ullInputSize = ullSize;
    if (lk_bMemCardSave && ullSize > UINT32_MAX)
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    lk_ulIFileLen = static_cast<std::uint32_t>(ullSize);
    if (lk_bMemCardSave && PlatFileKindOf(fd) == PLAT_FILE_REGULAR)
        lk_ullLeft = ullSize;
}

// Descriptor of the input, in binary mode.
int ChooseInput(void)
{
    int fd = 0;
    if (lk_pFileI != nullptr) {
        fd = PlatFileNo(lk_pFileI);
        TakeInputLength(fd);
        if (gl_bDebug)
            StderrPrint("Send File: %s\n", lk_pcIFilename);
    }
    if (!PlatSetBinary(fd))
        HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
    return fd;
}

// Remote console: connects the device's console to this link.
void SendRemoteConsolePrologue(void)
{
    SendFrame(LinkIsSerial() ? "RCRA--r1" : "RCRA--r2");
    SendFrame("RCRB--r1");
    SendFrame("TK");
    SendFrame("TD");
}

// MemCard: the device stores the data that follow under lk_pcMemCardDir.
void SendMemCardPrologue(void)
{
    char pcCommand[MEMCARD_DIR_MAX + 16];
    std::snprintf(pcCommand, sizeof pcCommand, "M%s*%lu", lk_pcMemCardDir, static_cast<unsigned long>(lk_ulIFileLen));
    const int n = BuildFrame(pucBuf, FRAME_SIZE, pcCommand);
    if (gl_bDebug)
        StderrPrint("%s\n", reinterpret_cast<const char*>(pucBuf));
    SendData(pucBuf, n, LINK_FRAME);
}

// The most to take next: iMax, or what is left of the announced length.
int NextPart(int iMax)
{
    return lk_ullLeft < static_cast<std::uint64_t>(iMax) ? static_cast<int>(lk_ullLeft) : iMax;
}

// n more bytes of the input have gone out.
void CountSent(int n)
{
    if (lk_ullLeft != NO_LIMIT)
        lk_ullLeft -= static_cast<std::uint64_t>(n);
    if (lk_bProgress)
        ProgressAdd(n);
}

// The input has ended: short of the announced length, it could not be read
// whole.
void InputEnded(void)
{
    if (lk_ullLeft != NO_LIMIT && lk_ullLeft != 0)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
}

// An input file on a stream goes from the file to the link inside the
// system, without passing through this program; false where it cannot. Its
// bytes are counted from each call's result all the same.
bool SendFileInside(int fd)
{
    if (lk_pFileI == nullptr || !LinkIsStream() || gl_bDebug)
        return false;
    while (lk_ullLeft != 0) {
        const int n = LinkSendFile(fd, NextPart(SEND_FILE_SIZE));
        if (n == LINK_NO_SENDFILE)
            return false;
        if (n == 0) {
            InputEnded();
            return true;
        }
        CountSent(n);
    }
    return true;
}

// The input, unchanged, block by block as it is read.
void SendInput(int fd)
{
    if (SendFileInside(fd))
        return;
    const int iBlock = LinkIsStream() && !gl_bDebug ? STREAM_BLOCK_SIZE : BLOCK_SIZE;
    // Anything but a pipe keeps its size.
    if (iBlock == STREAM_BLOCK_SIZE)
        PlatGrowPipe(fd, INPUT_PIPE_SIZE);
    while (lk_ullLeft != 0) {
        int n = PlatRead(fd, pucBuf, NextPart(iBlock));
        if (n == 0) {
            InputEnded();
            return;
        }
        if (n < 0)
            HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
        SendData(pucBuf, n, LINK_INPUT);
        CountSent(n);
    }
}

// The device did not confirm the job in time: the receiver hands over what it
// has taken from the link and what the filter holds back is written (unless
// told to end once sent, when it is cut off), then "Timeout" ends the run.
[[noreturn]] void EndUnconfirmed(void)
{
    if (lk_bRecv && lk_bRecvExitWhenSend)
        CutReceiver();
    else if (lk_bRecv)
        StopReceiver();
    HandleError(ERR_TIMEOUT, ERR_TIMEOUT, __FILE__, __LINE__, nullptr);
    EndProcess(ERR_TIMEOUT);
}

// The trace file stays open to the end: closing the link still reads.
void CloseAll(void)
{
    if (lk_pFileI != nullptr)
        std::fclose(lk_pFileI);
    if (lk_pFileO != nullptr)
        std::fclose(lk_pFileO);
    LinkClose();
}

}  // namespace

int main(int argc, char** argv)
{
    RecordStart();
    AtLastEnd(WriteRecord);
    PlatInitProcess();
    CatchEndSignals();
    BindCatalogue(argc > 0 ? argv[0] : nullptr);
    InitSettings();
    const OptionsResult eOptions = ParseOptions(argc, argv);
    if (eOptions == OPTIONS_USAGE)
        RecordNone();
    if (eOptions != OPTIONS_RUN)
        EndProcess(eOptions == OPTIONS_USAGE ? EXIT_DONE : ERR_PROGRAM);
    OpenFiles();
    LinkOpen();
    // The receiver starts before the first frame, so that it sees the answers
    // to the prologue frames.
    if (lk_bRecv)
        StartReceiver(lk_pFileO != nullptr ? PlatFileNo(lk_pFileO) : 1);
    int fdInput = ChooseInput();
    if (lk_bRemCon)
        SendRemoteConsolePrologue();
    if (lk_bMemCardSave)
        SendMemCardPrologue();
    if (lk_bProgress)
        ProgressStart(lk_ullInputSize);
    SendInput(fdInput);
    if (lk_bProgress)
        ProgressEnd();
    ReceiverInputFinished();
    if (lk_bConfirmEnd) {
        const bool bConfirmed = LinkConfirmEnd();
        lk_iConfirmed = bConfirmed ? 1 : 0;
        if (!bConfirmed)
            EndUnconfirmed();
    }
    if (lk_bRecv) {
        // Told to end once sent: the receiver is cut off where it stands,
        // before any file or socket it uses is closed.
        if (lk_bRecvExitWhenSend) {
            LinkFinishSending();
            LeaveReceiver();
            EndProcess(EXIT_DONE);
        }
        WaitReceiver();
    }
    CloseAll();
    EndProcess(EXIT_DONE);
}
