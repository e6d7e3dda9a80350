#include "morlink_test_util.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "options.h"
#include "settings.h"

std::string ProgramUnderTest()
{
    return MORLINK_BIN;
}

RunResult RunMorlink(const RunSetup& sSetup)
{
    return RunProcess(sSetup);
}

bool UnprivilegedUser(RunSetup* psSetup)
{
    if (geteuid() != 0)
        return true;
    const passwd* psUser = getpwnam("nobody");
    if (psUser == nullptr)
        return false;
    // A copy of the program that the user can reach wherever the build tree
    // lies (below /root, or a private temporary folder, it cannot).
    static ScratchDir s_dir;
    const std::string sCopy = s_dir.Path("morlink");
    std::error_code ec;
    std::filesystem::copy_file(MorlinkPath(), sCopy, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec || chmod(s_dir.Dir().c_str(), 0755) != 0 || chmod(sCopy.c_str(), 0755) != 0)
        return false;
    psSetup->program = sCopy;
    psSetup->iUid = static_cast<int>(psUser->pw_uid);
    psSetup->iGid = static_cast<int>(psUser->pw_gid);
    return true;
}

std::string MorlinkPath()
{
    return MORLINK_BIN;
}

std::string AllByteValues(int iRounds)
{
    std::string s;
    for (int r = 0; r < iRounds; ++r)
        for (int i = 0; i < 256; ++i)
            s.push_back(static_cast<char>(r % 2 ? 255 - i : i));
    return s;
}

void ParseArgs(const std::vector<std::string>& args)
{
    static std::vector<std::string> s_args;
    static std::vector<char*> s_argv;
    s_args = {"morlink"};
    s_args.insert(s_args.end(), args.begin(), args.end());
    s_argv = CStrings(s_args);  // argv[argc] is a null pointer, as for main
    InitSettings();
    ParseOptions(static_cast<int>(s_args.size()), s_argv.data());
}
