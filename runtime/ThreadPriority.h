#pragma once
// Scheduling niceness of the calling thread (-20 highest .. 19 lowest).
// Returns 0 or the system's error number.
int SetCurrentThreadNice(int Nice);
