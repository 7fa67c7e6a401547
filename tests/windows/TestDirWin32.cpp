// TestDir for the Windows build: the same contract as TestDir.cpp, made of
// the C runtime's Windows calls (no mkdtemp, no setenv there).
#include "TestDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/ProgramDir.h"

namespace fs = std::filesystem;

namespace {

void SetVariable(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

}  // namespace

TestDir::TestDir(bool bAsProgramDir) : m_bProgramDir(bAsProgramDir)
{
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100 && m_strPath.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("vorlent-test-" + std::to_string(random()));
        if (fs::create_directory(candidate))
            m_strPath = candidate.generic_string();
    }
    if (m_strPath.empty())
        throw std::runtime_error("cannot create a temporary directory");
    if (m_bProgramDir)
        platform::SetProgramDirectory(m_strPath);
    const char* state = std::getenv("LOCALAPPDATA");
    m_bHadState = state != nullptr;
    m_strOldState = state ? state : "";
    SetVariable("LOCALAPPDATA", m_strPath + "/state");
}

TestDir::~TestDir()
{
    if (m_bProgramDir)
        platform::SetProgramDirectory("");
    SetVariable("LOCALAPPDATA", m_bHadState ? m_strOldState : "");
    std::error_code ec;
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
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
