// A time written for people and for machines.
#include "tools/horodex/time_text.h"

#include <cstdio>
#include <ctime>

namespace Horodex {

namespace {

std::tm Parts(const Velmora::CDateTime& time) {
  const auto seconds = static_cast<std::time_t>(time.seconds());
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  return parts;
}

}  // namespace

std::string TimeText(const Velmora::CDateTime& time) {
  const std::tm tm = Parts(time);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06u UTC", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, time.microseconds());
  return text;
}

std::string JsonTime(const Velmora::CDateTime& time) {
  const std::tm tm = Parts(time);
  const unsigned micro = time.microseconds();
  char fraction[16];
  if (micro % 1000 == 0) {
    std::snprintf(fraction, sizeof fraction, ".%03u", micro / 1000);
  } else {
    std::snprintf(fraction, sizeof fraction, ".%06u", micro);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%sZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction);
  return text;
}

std::string JsonTime(std::string text) {
  if (text.size() > 10 && text[10] == ' ') {
    text[10] = 'T';
  }
  return text;
}

}  // namespace Horodex
