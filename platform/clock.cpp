#include "platform/clock.h"

#include <ctime>

TDateTime TSystemClock::Now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return ComposeDateTime(EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                           EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                                      static_cast<int>(ts.tv_nsec / 1000000)));
}

const TClock& SystemClock() {
    static const TSystemClock clock;
    return clock;
}
