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
    explicit TFixedClock(TDateTime now = 0) : now_(now) {}
    TDateTime Now() const override { return now_.load(); }
    void Set(TDateTime now) { now_.store(now); }
    void Advance(TDateTime days) { Set(now_.load() + days); }

private:
    std::atomic<double> now_;
};
