#include "builtins.h"

#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "text.h"

namespace brindle {

namespace {

bool utc_fields(int64_t seconds, struct tm& out) {
  const time_t t = static_cast<time_t>(seconds);
  return gmtime_r(&t, &out) != nullptr;
}

}  // namespace

std::string format_utc_time(int64_t seconds, uint32_t nanos) {
  struct tm tm {};
  if (!utc_fields(seconds, tm)) return std::string();
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                        tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string out(buf, static_cast<size_t>(std::max(n, 0)));
  nanos %= 1000000000u;
  if (nanos != 0) {
    if (nanos % 1000000u == 0) {
      n = std::snprintf(buf, sizeof buf, ".%03u", nanos / 1000000u);
    } else if (nanos % 1000u == 0) {
      n = std::snprintf(buf, sizeof buf, ".%06u", nanos / 1000u);
    } else {
      n = std::snprintf(buf, sizeof buf, ".%09u", nanos);
    }
    out.append(buf, static_cast<size_t>(std::max(n, 0)));
  }
  out += "+00:00";
  return out;
}

std::string format_utc_date(int64_t seconds) {
  struct tm tm {};
  if (!utc_fields(seconds, tm)) return std::string();
  char buf[48];
  const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900,
                              tm.tm_mon + 1, tm.tm_mday);
  return std::string(buf, static_cast<size_t>(std::max(n, 0)));
}

std::string current_time_text() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return format_utc_time(static_cast<int64_t>(ts.tv_sec), static_cast<uint32_t>(ts.tv_nsec));
}

std::string current_date_text() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return format_utc_date(static_cast<int64_t>(ts.tv_sec));
}

int64_t current_process_id() { return static_cast<int64_t>(getpid()); }

std::string current_directory() {
  std::vector<char> buf(4096);
  // Paths may exceed PATH_MAX on some systems; grow until the name fits.
  while (buf.size() <= (size_t{1} << 20)) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      std::string dir(buf.data());
      return is_valid_utf8(dir) ? dir : std::string();
    }
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
  return std::string();
}

std::string platform_name() {
#if defined(__APPLE__)
  return "macos";
#elif defined(__linux__)
  return "linux";
#elif defined(_WIN32)
  return "windows";
#elif defined(__FreeBSD__)
  return "freebsd";
#elif defined(__OpenBSD__)
  return "openbsd";
#elif defined(__NetBSD__)
  return "netbsd";
#else
  return "unknown";
#endif
}

std::string host_name() {
  long limit = sysconf(_SC_HOST_NAME_MAX);
  const size_t size = static_cast<size_t>(std::max(limit, 255L)) + 1;
  std::vector<char> buf(size, '\0');
  if (gethostname(buf.data(), size) != 0) return "unknown";
  // A name that filled the buffer may carry no terminator.
  std::string name(buf.data(), strnlen(buf.data(), size));
  if (!is_valid_utf8(name)) return "unknown";
  return name;
}

std::optional<Value> builtin_value(std::string_view name) {
  if (name == "NOW") return Value::string(current_time_text());
  if (name == "TODAY") return Value::string(current_date_text());
  if (name == "PID") return Value::integer(current_process_id());
  if (name == "CWD") return Value::string(current_directory());
  if (name == "PLATFORM") return Value::string(platform_name());
  if (name == "HOSTNAME") return Value::string(host_name());
  if (name == "TRUE") return Value::boolean(true);
  if (name == "FALSE") return Value::boolean(false);
  if (name == "NULL") return Value::null();
  return std::nullopt;
}

bool is_builtin_name(std::string_view name) {
  for (const std::string_view known :
       {"NOW", "TODAY", "PID", "CWD", "PLATFORM", "HOSTNAME", "TRUE", "FALSE", "NULL"}) {
    if (name == known) return true;
  }
  return false;
}

}  // namespace brindle
