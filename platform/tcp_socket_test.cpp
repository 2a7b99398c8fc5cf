#include "platform/tcp_socket.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/tcp_poller.h"

namespace {

// Accepts the one connection that was just made (it may need a moment to land).
TAcceptedConnection AcceptOne(TTcpListener& listener) {
    TTcpPoller poller;
    int tag = 0;
    poller.Add(listener.Handle(), PollRead, &tag);
    TPollEvent events[4];
    EXPECT_EQ(poller.Wait(events, 10000), 1);
    TAcceptedConnection c;
    EXPECT_EQ(listener.Accept(c), TAcceptStatus::Accepted);
    return c;
}

}  // namespace

TEST(TcpListener, PortZeroPicksAFreePortAndAcceptsLoopbackPeers) {
    TTcpListener listener;
    listener.Open(0, 15);
    ASSERT_NE(listener.Port(), 0);
    TAcceptedConnection none;
    EXPECT_EQ(listener.Accept(none), TAcceptStatus::None);

    TTcpSocket client = TTcpSocket::Connect("127.0.0.1", listener.Port());
    TAcceptedConnection server = AcceptOne(listener);
    EXPECT_EQ(server.RemoteAddress, "127.0.0.1");
    EXPECT_NE(server.RemotePort, 0);

    // Gathered parts arrive in order.
    std::string_view parts[] = {"head|", "", "body"};
    EXPECT_EQ(server.Socket.Send(parts).Bytes, 9u);
    server.Socket.ShutdownSend();
    std::string got;
    char buf[64];
    for (;;) {
        TIoResult r = client.Receive(buf, sizeof buf);
        if (r.Status != TIoStatus::Ok) {
            EXPECT_EQ(r.Status, TIoStatus::Closed);
            break;
        }
        got.append(buf, r.Bytes);
    }
    EXPECT_EQ(got, "head|body");
    // Nothing waiting on a non-blocking socket.
    EXPECT_EQ(server.Socket.Receive(buf, sizeof buf).Status, TIoStatus::WouldBlock);
}

TEST(TcpListener, SecondListenerOnABusyPortFails) {
    TTcpListener first;
    first.Open(0, 15);
    TTcpListener second;
    EXPECT_THROW(second.Open(first.Port(), 15), ESocketError);
    first.Close();
    EXPECT_FALSE(first.IsOpen());
}
