#include "platform/event_sink.h"

void TCapturingEventSink::Open() {
    std::lock_guard<std::mutex> hold(lock_);
    ++opens_;
}

void TCapturingEventSink::Report(const TEventEntry& entry) {
    std::lock_guard<std::mutex> hold(lock_);
    if (failing_) throw std::runtime_error("event sink failure");
    entries_.push_back(entry);
}

std::vector<TEventEntry> TCapturingEventSink::Entries() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_;
}

int TCapturingEventSink::OpenCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return opens_;
}

void TCapturingEventSink::SetFailing(bool failing) {
    std::lock_guard<std::mutex> hold(lock_);
    failing_ = failing;
}
