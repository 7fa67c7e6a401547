#pragma once

#include <string>
#include <string_view>

// The POSIX idioms the platform layer needs more than once, written once.
namespace platform {

// An open file descriptor that is closed when its owner goes; -1 holds none.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int Release();
    // Closes the held descriptor (errno is kept as it was) and holds fd.
    void Reset(int fd = -1);
    // Closes now. False, with errno set, when close reports an error: for a
    // file just written that means its data may not have reached the disk.
    bool Close();

private:
    int m_fd = -1;
};

// Reads fd to its end into text (appending), retrying interrupted calls.
// False, with errno set, on a read error; text then holds what came.
bool ReadToEnd(int fd, std::string& text);
// Writes all of data, retrying interrupted and partial writes. False, with
// errno set, on an error.
bool WriteAll(int fd, std::string_view data);

}  // namespace platform
