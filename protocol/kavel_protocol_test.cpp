#include "protocol/kavel_protocol.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include <atomic>
#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include "platform/udp_test_receiver.h"
#include "protocol/refused_value.h"

namespace {

TDatagramPerson Person(const std::string& path, const std::string& ip = "127.0.0.1") {
    TDatagramPerson p;
    p.FilePath = path;
    p.IP = ip;
    return p;
}

// Every name the protocol looks up must come through here; none leaves the machine.
class TKavelProtocolTest : public ::testing::Test {
protected:
    TKavelProtocolTest()
        : Protocol_([this](const std::string& name) {
              Asked_.push_back(name);
              return TInet4Address{{127, 0, 0, 1}};
          }) {
        Protocol_.SetDestinationPort(Receiver_.Port());
    }

    std::string Received() {
        const auto got = Receiver_.Receive();
        return got ? got->Bytes : std::string("<nothing>");
    }

    TUdpTestReceiver Receiver_;
    std::vector<std::string> Asked_;
    TKavelProtocol Protocol_;
};

TEST_F(TKavelProtocolTest, MessageNoticeOfASixLetterKeyIs24Bytes) {
    Protocol_.NotifyMessage(Person("/srv/kavel/common/TanaKa.kvl"));
    const std::string got = Received();
    EXPECT_EQ(got.size(), 24u);
    EXPECT_EQ(got, "\x01Kvl3_MsgTanaKa\x01Kvl3_Eod");
    EXPECT_TRUE(Asked_.empty());
}

TEST_F(TKavelProtocolTest, PersonDataCarriesTheFieldsInTheirOrder) {
    TDatagramPerson p = Person("/srv/kavel/common/suzuki.kvl");
    p.ModoriDate = "2024/03/07";
    p.ModoriTime = "17:30";
    p.StatusIcon = 2;
    p.Huzairiyu = "会議";
    Protocol_.SendPersonData(p, "127.0.0.1");
    EXPECT_EQ(Received(),
              "\x01Kvl3_Dat/SRV/KAVEL/COMMON/SUZUKI"
              "\x01Kvl3_Date"
              "2024/03/07"
              "\x01Kvl3_Time"
              "17:30"
              "\x01Kvl3_Icon"
              "2"
              "\x01Kvl3_Locate"
              "会議"
              "\x01Kvl3_Eod");

    Protocol_.SendPersonData(Person("/c/a.kvl"), "127.0.0.1");
    const std::string empty = Received();
    EXPECT_EQ(empty, "\x01Kvl3_Dat/C/A\x01Kvl3_Date\x01Kvl3_Time\x01Kvl3_Icon0\x01Kvl3_Locate\x01Kvl3_Eod");
    EXPECT_EQ(empty.size(), 60u + 4u + 1u);
}

TEST(KavelProtocolDatagram, PathIsUpperCasedByteByByteWithoutItsExtension) {
    // 田 is 0x93 0x63: its trail byte is a lower-case letter and folds too.
    // The dot in the directory is not the extension; ".KVL" goes like ".kvl".
    const std::string tanaka = TKavelProtocol::PersonData(Person("/srv/kavel.d/田中.KVL"));
    const std::string head = "\x01Kvl3_Dat/SRV/KAVEL.D/\x93\x43\x92\x86\x01Kvl3_Date";
    EXPECT_EQ(tanaka.substr(0, head.size()), head);

    const std::string plain = TKavelProtocol::PersonData(Person("/home/office/yamada.kvl"));
    EXPECT_EQ(plain.substr(0, 29), "\x01Kvl3_Dat/HOME/OFFICE/YAMADA\x01");
}

TEST(KavelProtocolDatagram, ValuesTravelRawWithSignsAndLineEndsButNeverTheSeparator) {
    TDatagramPerson p = Person("/c/b.kvl");
    p.StatusIcon = -3;
    p.Huzairiyu = "外出\r\n直帰\r\n";
    p.ModoriTime = "1\t2";
    const std::string got = TKavelProtocol::PersonData(p);
    EXPECT_NE(got.find("\x01Kvl3_Time1\t2\x01Kvl3_Icon-3\x01Kvl3_Locate"), std::string::npos);
    EXPECT_NE(got.find("\x01Kvl3_Locate外出\r\n直帰\r\n\x01Kvl3_Eod"), std::string::npos);
    EXPECT_EQ(got.substr(got.size() - 9), "\x01Kvl3_Eod");

    // A value holding 0x01 would append keys of the sender's choosing.
    p.ModoriTime = "1\x01Kvl3_Eod";
    EXPECT_THROW(TKavelProtocol::PersonData(p), ERefusedValue);
}

TEST_F(TKavelProtocolTest, AddressesResolveAsTheClientsExpect) {
    Protocol_.NotifyMessage(Person("/c/a.kvl", "LocalHost"));
    EXPECT_EQ(Received(), "\x01Kvl3_Msga\x01Kvl3_Eod");
    EXPECT_TRUE(Asked_.empty());

    // Not a quad (300 > 255): looked up as a name.
    Protocol_.SendPersonData(Person("/c/a.kvl"), "127.0.0.300");
    EXPECT_EQ(Received().substr(0, 12), "\x01Kvl3_Dat/C/");
    EXPECT_EQ(Asked_, std::vector<std::string>{"127.0.0.300"});

    // A person without an IP is a lookup of the empty name.
    Protocol_.NotifyMessage(Person("/c/b.kvl", ""));
    EXPECT_EQ(Received(), "\x01Kvl3_Msgb\x01Kvl3_Eod");
    EXPECT_EQ(Asked_.size(), 2u);
    EXPECT_EQ(Asked_[1], "");
}

TEST(KavelProtocol, LookupFailuresReachTheCaller) {
    TKavelProtocol protocol(
        [](const std::string&) -> TInet4Address { throw SocketError(-2, "Name or service not known"); });
    TUdpTestReceiver receiver;
    protocol.SetDestinationPort(receiver.Port());
    try {
        protocol.NotifyMessage(Person("/c/a.kvl", "pc-of-nobody"));
        FAIL() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Socket Error # -2\r\nName or service not known");
    }
    EXPECT_TRUE(receiver.Empty());
}

TEST(KavelProtocol, PortIsKeptByTheClientAndAPortOfZeroIsAnError) {
    TKavelProtocol protocol;
    EXPECT_EQ(protocol.DestinationPort(), 0) << "a client with port 0 until one is set";
    try {
        protocol.NotifyMessage(Person("/c/a.kvl"));
        FAIL() << "no error";
    } catch (const ESocketError& e) {
#ifdef _WIN32
        // The system's own code; Wine and Windows name it differently.
        EXPECT_TRUE(e.ErrorCode() == WSAEINVAL || e.ErrorCode() == WSAEADDRNOTAVAIL) << e.ErrorCode();
#else
        EXPECT_EQ(e.ErrorCode(), EINVAL);
#endif
    }
    protocol.SetDestinationPort(1990);
    EXPECT_EQ(protocol.DestinationPort(), 1990);
    EXPECT_EQ(protocol.UdpClient().Port, 1990);
}

TEST(KavelProtocol, SettingThePortAgainClosesTheOldSocket) {
    TUdpTestReceiver first, second;
    TKavelProtocol protocol;
    protocol.SetDestinationPort(first.Port());
    protocol.NotifyMessage(Person("/c/a.kvl"));
    const int oldSocket = protocol.UdpClient().Socket.Handle();
    ASSERT_GE(oldSocket, 0);

    protocol.SetDestinationPort(second.Port());
#ifdef _WIN32
    int type = 0, length = sizeof type;
    EXPECT_NE(getsockopt(static_cast<SOCKET>(oldSocket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length),
              0)
        << "the first socket stays open";
#else
    EXPECT_EQ(fcntl(oldSocket, F_GETFD), -1) << "the first socket stays open";
#endif
    EXPECT_FALSE(protocol.UdpClient().Socket.IsOpen());
    protocol.NotifyMessage(Person("/c/b.kvl"));
    EXPECT_TRUE(protocol.UdpClient().Socket.IsOpen());

    const auto one = first.Receive();
    const auto two = second.Receive();
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->Bytes, "\x01Kvl3_Msga\x01Kvl3_Eod");
    EXPECT_EQ(two->Bytes, "\x01Kvl3_Msgb\x01Kvl3_Eod");
}

TEST_F(TKavelProtocolTest, ConcurrentSendsGoThroughOneSocket) {
    constexpr int Threads = 6, PerThread = 20;
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < Threads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i) {
                try {
                    TDatagramPerson p = Person("/c/p" + std::to_string(t) + ".kvl");
                    if (i % 2)
                        Protocol_.NotifyMessage(p);
                    else
                        Protocol_.SendPersonData(p, "127.0.0.1");
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(failures.load(), 0);

    std::set<uint16_t> sourcePorts;
    int notices = 0, data = 0;
    for (int i = 0; i < Threads * PerThread; ++i) {
        const auto got = Receiver_.Receive();
        ASSERT_TRUE(got) << "datagram " << i << " missing";
        sourcePorts.insert(got->SourcePort);
        if (got->Bytes.compare(0, 9, "\x01Kvl3_Msg") == 0) ++notices;
        if (got->Bytes.compare(0, 9, "\x01Kvl3_Dat") == 0) ++data;
    }
    EXPECT_EQ(sourcePorts.size(), 1u);
    EXPECT_EQ(notices, Threads * PerThread / 2);
    EXPECT_EQ(data, Threads * PerThread / 2);
}

}  // namespace
