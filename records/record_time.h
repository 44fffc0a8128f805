// Times and ids for records: ISO 8601 local time with the UTC offset, and a unique record id.
#pragma once

#include <string>

#include "platform/local_time.h"

// "2026-12-08T19:57:44+01:00".
std::string iso8601_local(const ZonedTime& time);

// "20261208T195744+0100-SN123-A-CH3-7f3a": start time, serial, procedure key, channel, random suffix.
std::string make_record_id(const ZonedTime& started, const std::string& serial, const char* key, int channel);
