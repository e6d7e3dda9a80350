// pakwrap's system layer: files as descriptors, opened and sought by each
// system's own calls and read and written in whole blocks; whether two names
// lead to one file; the in-kernel copy. Each system has one file of its own
// (system_posix.cpp, system_win32.cpp); Linux copies inside the kernel
// (fastcopy_linux.cpp). system.cpp holds what the systems share.
#pragma once

// The input and output of a run; -1 for one not open.
struct Files {
    int iIn = -1;
    int iOut = -1;
};

// A buffer that the input is read into, a block at a time.
struct Block {
    unsigned char* puc;
    int iSize;
};

// Open the input for reading, or the output created or emptied for writing,
// both carrying bytes unchanged. -1 on failure.
int OpenInput(const char* pcName);
int OpenOutput(const char* pcName);

// Moves the offset as lseek does, with 64-bit offsets; -1 on failure.
long long SeekFile(int iFd, long long llOffset, int iWhence);

// The size of the file, its offset put back at the start; -1 when the file
// cannot be sought (a pipe).
long long MeasureFile(int iFd);
bool RewindFile(int iFd);

// False when closing fails: written data may be lost.
bool CloseFile(int iFd);

// Reads until the block is full or the input ends; -1 on a read error.
int ReadBlock(int iFd, const Block& sBlock);

// Writes all iLen bytes, resuming after short writes. Returns the number of
// bytes written: less than iLen only when a write failed (errno tells why).
int WriteAll(int iFd, const void* pv, int iLen);

// Reads the input from its offset to its end and hands each block's length to
// fStep: blocks as full as the input allows, the last one empty. Stops early
// when fStep returns false. False on a read error.
template <typename Step>
bool ForEachBlock(int iFd, const Block& sBlock, Step fStep)
{
    int iDatalen;
    do {
        iDatalen = ReadBlock(iFd, sBlock);
        if (iDatalen < 0)
            return false;
    } while (fStep(iDatalen) && iDatalen > 0);
    return true;
}

// True when both files exist and are one file (the same name, a link, or
// another path to it), each system by its own file identity. False when
// either cannot be examined.
bool SameFileIdentity(const char* pcFirst, const char* pcSecond);

// Copies from the current offset of iIn to that of iOut until the input ends,
// inside the kernel where it can. True when all of it was copied; false when
// the kernel could not (or failed part way): the offsets then stand after what
// was copied, and the caller goes on with reads and writes of its own, which
// report any real failure.
bool CopyRest(int iIn, int iOut);
