// The error reporter on its own: which text each kind of report prints, and
// which reports end the process.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "errors.h"
#include "netlink.h"
#include "settings.h"

namespace {

class Reporter : public ::testing::Test {
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        InitSettings();
    }
    void TearDown() override
    {
        CloseNetwork();
        InitSettings();
    }
};

TEST_F(Reporter, TimeoutReturnsAndLeavesTheSocketOpen)
{
    // A UDP link opens its socket and sends nothing.
    lk_bUDP = 1;
    std::snprintf(lk_pcServer, sizeof lk_pcServer, "127.0.0.1");
    InitNetwork();
    ASSERT_GE(NetworkSocket(), 0);
    ::testing::internal::CaptureStderr();
    HandleError(ERR_TIMEOUT, ERR_TIMEOUT, __FILE__, __LINE__, nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Timeout\n");
    int iType = 0;
    socklen_t len = sizeof iType;
    EXPECT_EQ(getsockopt(static_cast<int>(NetworkSocket()), SOL_SOCKET, SO_TYPE, &iType, &len), 0);
}

TEST_F(Reporter, TimeoutEndsWithStatus1WhenSetToEnd)
{
    lk_bRecvExitWhenTimeout = 1;
    EXPECT_EXIT(HandleError(ERR_TIMEOUT, ERR_TIMEOUT, __FILE__, __LINE__, nullptr), ::testing::ExitedWithCode(1),
                "^Timeout\n$");
}

TEST_F(Reporter, TableMessageWithExtraText)
{
    EXPECT_EXIT(HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, "block 7"), ::testing::ExitedWithCode(251),
                "^error during sending\n    block 7\n$");
}

TEST_F(Reporter, EveryCodeHasItsMessage)
{
    const struct {
        int iCode;
        const char* pcMessage;
    } table[] = {
        {240, "^serial error\n$"},
        {250, "^error during receiving\n$"},
        {252, "^error during TCP/IP connect\n$"},
        {253, "^error during host name resolution\n$"},
        {254, "^common network error\n$"},
        {255, "^programm error \\(i\\.e\\. false argument\\)\n$"},
    };
    for (const auto& entry : table)
        EXPECT_EXIT(HandleError(entry.iCode, entry.iCode, __FILE__, __LINE__, nullptr),
                    ::testing::ExitedWithCode(entry.iCode), entry.pcMessage);
}

TEST_F(Reporter, CodeOutsideTheTablePrintsOnlyTheText)
{
    EXPECT_EXIT(HandleError(7, 7, __FILE__, __LINE__, "note"), ::testing::ExitedWithCode(7), "^    note\n$");
}

TEST_F(Reporter, OtherReasonPrintsTheSystemTextOfTheLastError)
{
    // The extra text belongs to table messages only.
    EXPECT_EXIT((errno = ENOENT, HandleError(ERR_RECEIVE, -1, __FILE__, __LINE__, "unused")),
                ::testing::ExitedWithCode(250), "^No such file or directory\n$");
}

}  // namespace
