#include "protocol/kavel_protocol.h"

#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/refused_value.h"

namespace {

void AppendKey(std::string& datagram, const char* key) {
    datagram += '\x01';
    datagram += key;
}

// A value runs to the next 0x01: one inside it would start a key of the
// sender's choosing.
void AppendValue(std::string& datagram, std::string_view label, std::string_view value) {
    CheckDatagramValue(label, value);
    datagram += value;
}

}  // namespace

TKavelProtocol::TKavelProtocol(TNameResolver resolver) : Resolver_(std::move(resolver)) {}

TKavelProtocol::~TKavelProtocol() = default;

void TKavelProtocol::SetDestinationPort(int32_t port) {
    std::lock_guard<std::mutex> hold(ClientLock_);
    Client_.store(nullptr);
    OwnedClient_.reset();
    OwnedClient_ = std::make_unique<TIdUDPClient>(port);
    Client_.store(OwnedClient_.get());
}

int32_t TKavelProtocol::DestinationPort() { return UdpClient().Port; }

TIdUDPClient& TKavelProtocol::UdpClient() {
    if (TIdUDPClient* client = Client_.load()) return *client;
    std::lock_guard<std::mutex> hold(ClientLock_);
    if (!OwnedClient_) {
        OwnedClient_ = std::make_unique<TIdUDPClient>(0);
        Client_.store(OwnedClient_.get());
    }
    return *OwnedClient_;
}

std::string TKavelProtocol::MessageNotice(const TDatagramPerson& person) {
    std::string datagram;
    AppendKey(datagram, "Kvl3_Msg");
    AppendValue(datagram, "人物ファイル名", ExtractFileBaseName(person.FilePath));
    AppendKey(datagram, "Kvl3_Eod");
    return datagram;
}

std::string TKavelProtocol::PersonData(const TDatagramPerson& person) {
    std::string datagram;
    AppendKey(datagram, "Kvl3_Dat");
    AppendValue(datagram, "人物ファイルのパス", UpperCase(ChangeFileExt(person.FilePath, ""), TTrailBytes::Fold));
    AppendKey(datagram, "Kvl3_Date");
    AppendValue(datagram, "戻り日付", person.ModoriDate);
    AppendKey(datagram, "Kvl3_Time");
    AppendValue(datagram, "戻り時刻", person.ModoriTime);
    AppendKey(datagram, "Kvl3_Icon");
    datagram += std::to_string(person.StatusIcon);
    AppendKey(datagram, "Kvl3_Locate");
    AppendValue(datagram, "不在理由", person.Huzairiyu);
    AppendKey(datagram, "Kvl3_Eod");
    return datagram;
}

void TKavelProtocol::NotifyMessage(const TDatagramPerson& person) { Send(MessageNotice(person), person.IP); }

void TKavelProtocol::SendPersonData(const TDatagramPerson& person, const std::string& address) {
    Send(PersonData(person), address);
}

void TKavelProtocol::Send(const std::string& datagram, const std::string& address) {
    const int32_t port = DestinationPort();
    TIdUDPClient& client = UdpClient();
    try {
        const TInet4Address to = ResolveAddress(address, Resolver_);
        client.Socket.SendTo(to, port, datagram);
    } catch (...) {
        Failed_.fetch_add(1);
        throw;
    }
    Sent_.fetch_add(1);
}
