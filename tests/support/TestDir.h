#pragma once

#include <string>

// A fresh temporary directory, removed with everything in it at the end of
// its scope. As a program directory it also points the program at itself
// (VORLENT_HOME) for its lifetime. Every one takes the change record
// (XDG_STATE_HOME) into itself while it lives.
class TestDir
{
public:
    explicit TestDir(bool bAsProgramDir = true);
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string File(const std::string& name) const { return m_strPath + "/" + name; }

    // Writes content to name exactly as given (no line-end conversion).
    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    // Copies a file of tests/data or src/resources into this directory.
    void CopyData(const std::string& dataName, const std::string& asName = "") const;
    void CopyResource(const std::string& resourceName) const;

private:
    std::string m_strPath;
    bool m_bProgramDir;
    bool m_bHadState = false;
    std::string m_strOldState;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
