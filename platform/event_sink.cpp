#include "platform/event_sink.h"

void TCapturingEventSink::Open() {
    std::lock_guard<std::mutex> hold(Lock_);
    ++Opens_;
}

void TCapturingEventSink::Report(const TEventEntry& entry) {
    std::lock_guard<std::mutex> hold(Lock_);
    if (Failing_) throw std::runtime_error("event sink failure");
    Entries_.push_back(entry);
}

std::vector<TEventEntry> TCapturingEventSink::Entries() const {
    std::lock_guard<std::mutex> hold(Lock_);
    return Entries_;
}

int TCapturingEventSink::OpenCount() const {
    std::lock_guard<std::mutex> hold(Lock_);
    return Opens_;
}

void TCapturingEventSink::SetFailing(bool failing) {
    std::lock_guard<std::mutex> hold(Lock_);
    Failing_ = failing;
}
