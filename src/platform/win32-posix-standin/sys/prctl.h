#pragma once
// See README. Windows has no timer slack to set.
#define PR_SET_TIMERSLACK 29
inline int prctl(int, unsigned long) { return 0; }
