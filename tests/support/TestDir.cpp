#include "TestDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/ProgramDir.h"

namespace fs = std::filesystem;

TestDir::TestDir(bool bAsProgramDir) : m_bProgramDir(bAsProgramDir)
{
    std::string tmpl = (fs::temp_directory_path() / "vorlent-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("cannot create a temporary directory");
    m_strPath = tmpl;
    if (m_bProgramDir)
        platform::SetProgramDirectory(m_strPath);
    // The change record of every send made meanwhile stays inside it, for
    // this process and the programs it starts.
    const char* state = std::getenv("XDG_STATE_HOME");
    m_bHadState = state != nullptr;
    m_strOldState = state ? state : "";
    setenv("XDG_STATE_HOME", (m_strPath + "/state").c_str(), 1);
}

TestDir::~TestDir()
{
    if (m_bProgramDir)
        platform::SetProgramDirectory("");
    if (m_bHadState)
        setenv("XDG_STATE_HOME", m_strOldState.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
    std::error_code ec;
    // A test may have made files read-only; make them removable again.
    for (auto& entry : fs::recursive_directory_iterator(m_strPath, ec))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(m_strPath, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_strPath, ec);
}

void TestDir::Write(const std::string& name, const std::string& content) const
{
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string TestDir::Read(const std::string& name) const { return ReadWholeFile(File(name)); }

bool TestDir::Exists(const std::string& name) const { return fs::exists(File(name)); }

void TestDir::CopyData(const std::string& dataName, const std::string& asName) const
{
    fs::copy_file(fs::path(VORLENT_TEST_DATA) / dataName, File(asName.empty() ? dataName : asName),
                  fs::copy_options::overwrite_existing);
}

void TestDir::CopyResource(const std::string& resourceName) const
{
    fs::copy_file(fs::path(VORLENT_RESOURCE_DIR) / resourceName, File(resourceName),
                  fs::copy_options::overwrite_existing);
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
