#include <ctime>

#include "platform/os.h"
#include "platform/settings.h"
#include "platform/trace_file.h"

std::string trace_time_stamp() {
  // One clock reading for both the calendar fields and the milliseconds, so
  // the stamp never runs backwards across a second boundary.
  int millis = 0;
  const tm local = os_local_time(&millis);
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
  return text;
}

std::string trace_day_path(const char* word) {
  const std::string folder = library_directory() + "kxrf32log";
  os_make_dir(folder.c_str());
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char date[48];
  snprintf(date, sizeof date, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
           local.tm_mday);
  return folder + "/" + (word ? word : "") + date + ".log";
}

std::string port_log_file_name() { return trace_day_path("port"); }
