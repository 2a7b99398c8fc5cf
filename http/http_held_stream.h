#pragma once

#include <functional>
#include <string>

// An answer that stays open after its head and first bytes (an event feed):
// the worker that holds the connection asks it for more whenever it is woken
// for it, and sends its heartbeat when nothing else went out for a while.
// Held connections count against a cap of their own, not the requests'.
class THeldStream {
public:
    virtual ~THeldStream() = default;
    // On the worker's thread once the head is out. wake may be called from
    // any thread, any number of times, also after the connection is gone.
    virtual void Attach(std::function<void()> wake) = 0;
    // On the worker's thread: appends the bytes due now to out; false ends
    // the stream once they are sent.
    virtual bool Poll(std::string& out) = 0;
    // Sent after a quiet spell of the server's heartbeat period.
    virtual std::string Heartbeat() const = 0;
};
