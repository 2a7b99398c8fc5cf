#include "platform/udp_socket.h"

#include <cerrno>

#include "platform/sjis_text.h"

ESocketError SocketError(int errorCode, const std::string& text) {
    return ESocketError("Socket Error # " + std::to_string(errorCode) + "\r\n" + text, errorCode);
}

std::string TInet4Address::ToString() const {
    return std::to_string(Octets[0]) + '.' + std::to_string(Octets[1]) + '.' + std::to_string(Octets[2]) + '.' +
           std::to_string(Octets[3]);
}

bool ParseDottedQuad(std::string_view text, TInet4Address& address) {
    TInet4Address parsed;
    size_t part = 0;
    size_t at = 0;
    for (;;) {
        if (part == 4) return false;
        int value = 0;
        size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + (text[at] - '0');
            if (value > 255) return false;
            ++at;
            ++digits;
        }
        if (digits == 0) return false;
        parsed.Octets[part++] = static_cast<uint8_t>(value);
        if (at == text.size()) break;
        if (text[at] != '.') return false;
        ++at;
    }
    if (part != 4) return false;
    address = parsed;
    return true;
}

TInet4Address ResolveAddress(const std::string& text, const TNameResolver& resolver) {
    if (SameText(text, "localhost")) return TInet4Address{{127, 0, 0, 1}};
    TInet4Address address;
    if (ParseDottedQuad(text, address)) return address;
    return resolver ? resolver(text) : SystemResolve(text);
}

TUdpSocket::~TUdpSocket() { Close(); }

void TUdpSocket::SendTo(const TInet4Address& address, int32_t port, std::string_view bytes) {
    // A port that does not fit would silently go elsewhere once truncated.
    if (port < 0 || port > 65535) throw SystemSocketError(EINVAL);
    Open();
    const int fd = Handle();
    long sent;
    do {
        sent = SendTo_ ? SendTo_(fd, bytes.data(), bytes.size(), address, static_cast<uint16_t>(port))
                       : SystemSendTo(fd, bytes.data(), bytes.size(), address, static_cast<uint16_t>(port));
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        const int error = errno;
        if (error == EMSGSIZE) throw ESocketError("Package Size Too Big.", error);
        throw SystemSocketError(error);
    }
    if (static_cast<size_t>(sent) != bytes.size()) throw ESocketError("Not all bytes sent.", 0);
}
