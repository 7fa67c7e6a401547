#pragma once
// See README: POSIX names over the mingw-w64 C runtime, for four files only.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

// Every open in those files asks for O_CLOEXEC: binary mode rides along, so
// the C runtime never turns "\n" into "\r\n".
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif

inline struct tm* gmtime_r(const time_t* t, struct tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
inline struct tm* localtime_r(const time_t* t, struct tm* out) { return localtime_s(out, t) == 0 ? out : nullptr; }
inline int fsync(int fd) { return _commit(fd); }
inline int ftruncate(int fd, long long size) { return _chsize_s(fd, size) == 0 ? 0 : -1; }
inline long long pread(int fd, void* buffer, unsigned size, long long offset)
{
    const long long was = _lseeki64(fd, 0, SEEK_CUR);
    if (_lseeki64(fd, offset, SEEK_SET) < 0)
        return -1;
    const int n = _read(fd, buffer, size);
    _lseeki64(fd, was, SEEK_SET);
    return n;
}
inline int getuid() { return 0; }
inline int getlogin_r(char* name, size_t size)
{
    const char* user = getenv("USERNAME");
    if (!user || strlen(user) >= size)
        return -1;
    strcpy(name, user);
    return 0;
}
inline int gethostname(char* name, size_t size)
{
    const char* host = getenv("COMPUTERNAME");
    if (!host || strlen(host) >= size)
        return -1;
    strcpy(name, host);
    return 0;
}
inline time_t timegm(struct tm* t) { return _mkgmtime(t); }
