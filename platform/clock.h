#pragma once

#include <atomic>

#include "platform/date_time.h"

// Source of "now" for everything that depends on the current local time;
// injected so tests can pin the moment.
class TClock {
public:
    virtual ~TClock() = default;
    virtual TDateTime Now() const = 0;
};

// Local wall-clock time of the host, to the millisecond.
class TSystemClock : public TClock {
public:
    TDateTime Now() const override;
};

// Process-wide system clock, for code that is handed no clock.
const TClock& SystemClock();

// A clock that stands still until told otherwise; safe to set from one thread
// while others read it.
class TFixedClock : public TClock {
public:
    explicit TFixedClock(TDateTime now = 0) : Now_(now) {}
    TDateTime Now() const override { return Now_.load(); }
    void Set(TDateTime now) { Now_.store(now); }
    void Advance(TDateTime days) { Set(Now_.load() + days); }

private:
    std::atomic<double> Now_;
};
