#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/udp_socket.h"

// What the datagrams carry of one person, as its person file holds it
// (TKavelPerson::Datagram fills it).
struct TDatagramPerson {
    std::string FilePath;  // common directory followed by the file name
    std::string IP;
    std::string ModoriDate;
    std::string ModoriTime;
    std::string Huzairiyu;
    int32_t StatusIcon = 0;
};

// The UDP client of the sender: the clients' port and the one socket every
// datagram leaves through.
class TIdUDPClient {
public:
    explicit TIdUDPClient(int32_t port) : Port(port) {}
    const int32_t Port;
    TUdpSocket Socket;
};

// Tells the Kavel clients of a new message or a changed absence, one
// datagram each, no answer expected. Sends may run on many threads at once;
// SetDestinationPort only while nothing is sent.
class TKavelProtocol {
public:
    // Host names other than localhost and dotted quads go to resolver.
    explicit TKavelProtocol(TNameResolver resolver = SystemResolve);
    virtual ~TKavelProtocol();
    TKavelProtocol(const TKavelProtocol&) = delete;
    TKavelProtocol& operator=(const TKavelProtocol&) = delete;

    // Replaces the UDP client (closing its socket) by one for port.
    virtual void SetDestinationPort(int32_t port);
    virtual int32_t DestinationPort();
    // The current client, made with port 0 when there is none yet.
    TIdUDPClient& UdpClient();

    // The message notice to the person's own IP.
    void NotifyMessage(const TDatagramPerson& person);
    // The person's absence state to address.
    void SendPersonData(const TDatagramPerson& person, const std::string& address);

    // The datagrams as sent. Raise ERefusedValue for a value holding the
    // separator 0x01 (nothing is sent).
    static std::string MessageNotice(const TDatagramPerson& person);
    static std::string PersonData(const TDatagramPerson& person);

    // Datagrams handed to the system, and those that failed on the way.
    std::uint64_t SentCount() const { return Sent_.load(); }
    std::uint64_t FailedCount() const { return Failed_.load(); }

private:
    void Send(const std::string& datagram, const std::string& address);

    TNameResolver Resolver_;
    std::mutex ClientLock_;
    std::unique_ptr<TIdUDPClient> OwnedClient_;
    std::atomic<TIdUDPClient*> Client_{nullptr};
    std::atomic<std::uint64_t> Sent_{0};
    std::atomic<std::uint64_t> Failed_{0};
};
