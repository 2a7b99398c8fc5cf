#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/udp_socket.h"

class TKavelPerson;

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
    void NotifyMessage(const TKavelPerson& person);
    // The person's absence state to address.
    void SendPersonData(const TKavelPerson& person, const std::string& address);

    // The datagrams as sent. Raise ERefusedValue for a value holding the
    // separator 0x01 (nothing is sent).
    static std::string MessageNotice(const TKavelPerson& person);
    static std::string PersonData(const TKavelPerson& person);

private:
    void Send(const std::string& datagram, const std::string& address);

    TNameResolver resolver_;
    std::mutex clientLock_;
    std::unique_ptr<TIdUDPClient> ownedClient_;
    std::atomic<TIdUDPClient*> client_{nullptr};
};
