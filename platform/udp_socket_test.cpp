#include "platform/udp_socket.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#endif

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/udp_test_receiver.h"

namespace {

const TInet4Address Loopback{{127, 0, 0, 1}};

TEST(ParseDottedQuad, TakesFourDecimalNumbersUpTo255) {
    TInet4Address a;
    ASSERT_TRUE(ParseDottedQuad("127.0.0.1", a));
    EXPECT_EQ(a, Loopback);
    ASSERT_TRUE(ParseDottedQuad("255.255.255.255", a));
    EXPECT_EQ(a.ToString(), "255.255.255.255");
    ASSERT_TRUE(ParseDottedQuad("0.0.0.0", a));
    EXPECT_EQ(a.ToString(), "0.0.0.0");
    // Decimal, also with leading zeros.
    ASSERT_TRUE(ParseDottedQuad("010.001.0.9", a));
    EXPECT_EQ(a.ToString(), "10.1.0.9");
}

TEST(ParseDottedQuad, RejectsEverythingElse) {
    TInet4Address a{{9, 9, 9, 9}};
    for (const char* text : {"256.0.0.1", "1.2.3.256", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "1.2.3.4 ",
                             " 1.2.3.4", "", "a.b.c.d", "1.2.3.-4", "99999999999.1.1.1", "0x7f.0.0.1", "localhost"}) {
        EXPECT_FALSE(ParseDottedQuad(text, a)) << text;
    }
    EXPECT_EQ(a.ToString(), "9.9.9.9") << "a failed parse leaves the address alone";
}

TEST(ResolveAddress, LocalhostAndQuadsNeverReachTheResolver) {
    std::vector<std::string> asked;
    const TNameResolver resolver = [&](const std::string& name) {
        asked.push_back(name);
        return TInet4Address{{127, 0, 0, 9}};
    };
    EXPECT_EQ(ResolveAddress("localhost", resolver), Loopback);
    EXPECT_EQ(ResolveAddress("LocalHost", resolver), Loopback);
    EXPECT_EQ(ResolveAddress("127.0.0.3", resolver).ToString(), "127.0.0.3");
    EXPECT_TRUE(asked.empty());

    EXPECT_EQ(ResolveAddress("127.0.0.256", resolver).ToString(), "127.0.0.9");
    EXPECT_EQ(ResolveAddress("", resolver).ToString(), "127.0.0.9");
    EXPECT_EQ(ResolveAddress("kavel-pc", resolver).ToString(), "127.0.0.9");
    EXPECT_EQ(asked, (std::vector<std::string>{"127.0.0.256", "", "kavel-pc"}));
}

TEST(SystemResolve, NumericTextNeedsNoLookup) { EXPECT_EQ(SystemResolve("127.0.0.5").ToString(), "127.0.0.5"); }

TEST(UdpSocket, OpensOnFirstSendWithBroadcastOffAndSendsTheBytesAsTheyAre) {
    TUdpTestReceiver receiver;
    TUdpSocket socket;
    EXPECT_FALSE(socket.IsOpen());
    const std::string bytes(
        "\x01"
        "a\0b\xFF",
        5);
    socket.SendTo(Loopback, receiver.Port(), bytes);
    ASSERT_TRUE(socket.IsOpen());

    int broadcast = -1;
#ifdef _WIN32
    int length = sizeof broadcast;
    ASSERT_EQ(getsockopt(static_cast<SOCKET>(socket.Handle()), SOL_SOCKET, SO_BROADCAST,
                         reinterpret_cast<char*>(&broadcast), &length),
              0);
#else
    socklen_t length = sizeof broadcast;
    ASSERT_EQ(getsockopt(socket.Handle(), SOL_SOCKET, SO_BROADCAST, &broadcast, &length), 0);
#endif
    EXPECT_EQ(broadcast, 0);

    const auto got = receiver.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Bytes, bytes);
    EXPECT_EQ(got->SourceAddress, "127.0.0.1");
}

// The text of the error the send raises; empty when it raised none.
std::string SendError(TUdpSocket& socket, int32_t port, const std::string& bytes) {
    try {
        socket.SendTo(Loopback, port, bytes);
    } catch (const ESocketError& e) {
        return e.what();
    }
    return {};
}

TEST(UdpSocket, FailuresRaiseTheirTexts) {
    TUdpTestReceiver receiver;
    TUdpSocket socket;
    EXPECT_EQ(SendError(socket, receiver.Port(), std::string(70000, 'x')), "Package Size Too Big.");
    EXPECT_TRUE(receiver.Empty());

    socket.SetSendToCall(
        [](int, const void*, size_t size, const TInet4Address&, uint16_t) { return static_cast<long>(size) - 1; });
    EXPECT_EQ(SendError(socket, 1990, "abc"), "Not all bytes sent.");

    int calls = 0;
    socket.SetSendToCall([&](int, const void*, size_t, const TInet4Address&, uint16_t) {
        // Interrupted before anything went out: tried again.
        errno = ++calls == 1 ? EINTR : ENETUNREACH;
        return -1L;
    });
#ifdef _WIN32
    // The C runtime has no text of its own for the errno values beyond ERANGE.
    const std::string unreachable = std::generic_category().message(ENETUNREACH);
#else
    const std::string unreachable = "Network is unreachable";
#endif
    EXPECT_EQ(SendError(socket, 1990, "abc"), "Socket Error # " + std::to_string(ENETUNREACH) + "\r\n" + unreachable);
    EXPECT_EQ(calls, 2);

    // A port that does not fit is refused, not truncated to another one.
    calls = 0;
    const std::string invalid = "Socket Error # " + std::to_string(EINVAL) + "\r\nInvalid argument";
    EXPECT_EQ(SendError(socket, receiver.Port() + 65536, "x"), invalid);
    EXPECT_EQ(SendError(socket, -1, "x"), invalid);
    EXPECT_EQ(calls, 0);
}

}  // namespace
