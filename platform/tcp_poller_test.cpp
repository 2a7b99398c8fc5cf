#include "platform/tcp_poller.h"

#include <gtest/gtest.h>

namespace {

struct TConnectedPair {
    TTcpListener Listener;
    TTcpSocket Client;
    TAcceptedConnection Server;
    TConnectedPair() {
        Listener.Open(0, 15);
        Client = TTcpSocket::Connect("127.0.0.1", Listener.Port());
        TTcpPoller poller;
        int tag = 0;
        poller.Add(Listener.Handle(), PollRead, &tag);
        TPollEvent events[4];
        EXPECT_EQ(poller.Wait(events, 10000), 1);
        EXPECT_EQ(Listener.Accept(Server), TAcceptStatus::Accepted);
    }
};

}  // namespace

TEST(TcpPoller, ReportsReadinessWithItsTagAndWakes) {
    TConnectedPair pair;
    TTcpSocket& client = pair.Client;
    TAcceptedConnection& server = pair.Server;

    TTcpPoller poller;
    int tag = 0;
    poller.Add(server.Socket.Handle(), PollRead, &tag);
    client.Send("x");
    TPollEvent events[4];
    ASSERT_EQ(poller.Wait(events, 10000), 1);
    EXPECT_EQ(events[0].Tag, &tag);
    EXPECT_TRUE(events[0].Events & PollRead);

    poller.Modify(server.Socket.Handle(), PollWrite, &tag);
    ASSERT_EQ(poller.Wait(events, 10000), 1);
    EXPECT_TRUE(events[0].Events & PollWrite);

    poller.Remove(server.Socket.Handle());
    poller.Wake();
    EXPECT_EQ(poller.Wait(events, 10000), 0);  // woken, nothing to report
}

TEST(TcpPoller, TimerIsReadableOnceExpiredUntilConsumedOrArmedAgain) {
    TTcpPoller first, second;
    TPollTimer timer;
    first.Add(timer.Handle(), PollRead, &timer, true);
    second.Add(timer.Handle(), PollRead, &timer, true);
    TPollEvent events[4];

    timer.Arm(100000);
    timer.Disarm();
    EXPECT_FALSE(timer.Consume());

    timer.Arm(1);
    ASSERT_EQ(first.Wait(events, 10000), 1);
    EXPECT_EQ(events[0].Tag, &timer);
    EXPECT_TRUE(timer.Consume());
    EXPECT_FALSE(timer.Consume());  // a second waiter finds nothing left
    EXPECT_EQ(second.Wait(events, 0), 0);
}
