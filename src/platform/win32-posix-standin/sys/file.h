#pragma once
// See README. The change record's lock: one writer at a time is all the
// Windows build does until its append-file interface comes.
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_UN 8
inline int flock(int, int) { return 0; }
