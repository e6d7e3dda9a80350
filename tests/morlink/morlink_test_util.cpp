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

namespace {

// Reads records from standard input; prints each field as name TAB value,
// and an empty line after each record.
constexpr const char* kRecordParser = R"(import json, sys
text = sys.stdin.buffer.read().decode("utf-8")
for line in text.split("\n"):
    if line:
        for name, value in json.loads(line, object_pairs_hook=lambda pairs: pairs):
            print(name + "\t" + json.dumps(value))
        print()
)";

}  // namespace

std::vector<RecordFields> ParseRecords(const std::string& text)
{
    RunSetup sSetup;
    sSetup.program = "/usr/bin/python3";
    sSetup.args = {"-c", kRecordParser};
    sSetup.input = text;
    const RunResult r = RunProcess(sSetup);
    std::vector<RecordFields> records;
    if (r.iStatus != 0 || !r.err.empty())
        return records;
    RecordFields record;
    std::size_t iStart = 0;
    for (std::size_t iEnd; (iEnd = r.out.find('\n', iStart)) != std::string::npos; iStart = iEnd + 1) {
        const std::string sLine = r.out.substr(iStart, iEnd - iStart);
        const std::size_t iTab = sLine.find('\t');
        if (iTab == std::string::npos) {
            records.push_back(record);
            record.clear();
        } else {
            record.emplace_back(sLine.substr(0, iTab), sLine.substr(iTab + 1));
        }
    }
    return records;
}

std::string RecordField(const RecordFields& record, const std::string& sName)
{
    for (const auto& [sKey, sValue] : record)
        if (sKey == sName)
            return sValue;
    return "";
}

std::string LastLine(const std::string& text)
{
    if (text.size() < 2)
        return text;
    const std::size_t iStart = text.rfind('\n', text.size() - 2);
    return iStart == std::string::npos ? text : text.substr(iStart + 1);
}
