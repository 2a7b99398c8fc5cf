#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <syslog.h>

namespace {

TEST(SyslogPriority, TypesMapToPrioritiesOfTheSameName) {
    EXPECT_EQ(SyslogPriority(TEventType::Information), LOG_INFO);
    EXPECT_EQ(SyslogPriority(TEventType::Warning), LOG_WARNING);
    EXPECT_EQ(SyslogPriority(TEventType::Error), LOG_ERR);
}

}  // namespace
