// Date and time stamps from the local clock, written into a caller's text of at least 20 bytes.
#pragma once

#include "platform/local_time.h"

char* date_stamp(char* text);       // "MM/DD/YYYY"
char* time_stamp(char* text);       // "HH:MM:SS", hours 0 to 23
char* date_time_stamp(char* text);  // "MM/DD/YYYY HH:MM:SS", 19 characters

// Tests: the stamps take their time from clock instead of the local clock; nullptr gives it back.
void set_stamp_clock(LocalTime (*clock)());
