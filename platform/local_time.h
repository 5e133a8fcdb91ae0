// The local time zone as the C library finds it.
#pragma once

namespace platform {

// With TZ unset, glibc checks the zone file again on every local-time
// conversion (a stat each, in mktime and localtime), which a list of many
// entries pays once per entry and per shown date. Naming the default zone file
// in TZ keeps the same zone and lets later conversions reuse what was read.
// A TZ the user set, even an empty one, is left alone.
void pinLocalTimeZone();

}  // namespace platform
