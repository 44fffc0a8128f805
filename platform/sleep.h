// Sleeping for a number of milliseconds, and the test-only time scale.
// POSIX implementation in sleep_posix.cc, Windows in sleep_win32.cc; the scale in time_scale.cc.
#pragma once

// Sleeps for ms milliseconds of program time (see scaled_ms); returns at once for ms <= 0.
void sleep_ms(int ms);

// The time scale shrinks every sleep and socket timeout of the program so that tests run fast.
// 1.0 (the default) is real time. Only tests set it.
void set_time_scale(double scale);
double time_scale();

// ms in real milliseconds under the time scale: ms * scale, rounded, but never shorter than
// min(ms, 10) so that short drains still give a loopback peer time to answer. ms itself at scale 1.
int scaled_ms(int ms);

// A window for an answer that should come (a reply read's timeout) under the time scale: shortened no
// further than min(ms, 100), because a window costs nothing when the answer comes, and a loaded
// machine can be slow to let a loopback peer answer. ms itself at scale 1.
int scaled_reply_ms(int ms);
