// Date and time stamps of a local time, written into a caller's text of at least 20 bytes.
#pragma once

#include "platform/local_time.h"

char* date_stamp(const LocalTime& time, char* text);       // "MM/DD/YYYY"
char* time_stamp(const LocalTime& time, char* text);       // "HH:MM:SS", hours 0 to 23
char* date_time_stamp(const LocalTime& time, char* text);  // "MM/DD/YYYY HH:MM:SS", 19 characters
