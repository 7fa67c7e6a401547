#include "config/LanguageFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "config/IniFile.h"
#include "platform/ProgramDir.h"

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::vector<std::string> FindLanguageFiles()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(platform::ProgramDirectory(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 5 || name.size() >= 20 || Upper(name.substr(name.size() - 4)) != ".LNG")
            continue;
        if (!entry.is_regular_file(ec))
            continue;
        files.push_back(name);
    }
    // Directory order is arbitrary here; name order makes the menu and the
    // fallback language the same on every start.
    std::sort(files.begin(), files.end());
    if (files.size() > kMaxLanguageFiles)
        files.resize(kMaxLanguageFiles);
    return files;
}

int WantedLanguageIndex(const std::vector<std::string>& files)
{
    CIniFile config("CONFIG.INI", false);
    config.ReadString("GENERAL", "Language");
    const std::string wanted = Upper(config.GetValue() + ".LNG");
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (Upper(files[i]) == wanted)
            return static_cast<int>(i);
    }
    return -1;
}
