// Pinning the local time zone keeps local times as they were and leaves a
// zone the user chose alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "local_time.h"

namespace {

// Restores TZ as it was when the test started.
class TzGuard {
 public:
  TzGuard() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  ~TzGuard() {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  TzGuard(const TzGuard&) = delete;
  TzGuard& operator=(const TzGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};

std::time_t summerNoonLocal() {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 6;
  tm.tm_mday = 15;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(LocalTimeZone, UnsetZoneIsNamedAndTimesStayTheSame) {
  TzGuard guard;
  ::unsetenv("TZ");
  ::tzset();
  const std::time_t before = summerNoonLocal();
  platform::pinLocalTimeZone();
  ASSERT_NE(std::getenv("TZ"), nullptr);
  EXPECT_STREQ(std::getenv("TZ"), ":/etc/localtime");
  EXPECT_EQ(summerNoonLocal(), before);
}

TEST(LocalTimeZone, AZoneTheUserSetIsKept) {
  TzGuard guard;
  for (const char* zone : {"Asia/Tokyo", ""}) {
    ::setenv("TZ", zone, 1);
    platform::pinLocalTimeZone();
    EXPECT_STREQ(std::getenv("TZ"), zone);
  }
}

}  // namespace
