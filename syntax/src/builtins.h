// The built-in `$` variables: facts of the running process and its host,
// read afresh on every call (nothing is cached).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model.h"

namespace brindle {

// The value of the built-in `name` (NOW, TODAY, PID, CWD, PLATFORM,
// HOSTNAME, TRUE, FALSE, NULL), or nothing for any other name.
std::optional<Value> builtin_value(std::string_view name);

// Whether `name` is one of those, without reading its value.
bool is_builtin_name(std::string_view name);

// `seconds` since the Unix epoch plus `nanos` as UTC RFC 3339:
// 2024-01-15T08:30:00.250+00:00. The fraction has 3, 6 or 9 digits, the
// fewest that hold `nanos` exactly, and is left out when `nanos` is 0.
std::string format_utc_time(int64_t seconds, uint32_t nanos);

// 2024-01-15 for the UTC day containing `seconds`.
std::string format_utc_date(int64_t seconds);

std::string current_time_text();   // $NOW
std::string current_date_text();   // $TODAY
int64_t current_process_id();      // $PID
std::string current_directory();   // $CWD: "" when unknown or not UTF-8
std::string platform_name();       // $PLATFORM
std::string host_name();           // $HOSTNAME: "unknown" on failure

}  // namespace brindle
