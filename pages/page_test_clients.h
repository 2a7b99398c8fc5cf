#pragma once

// Test support for pages that send datagrams and take form values.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/kavel_protocol.h"

namespace page_test {

// The clients of the office: one socket on each of 127.0.0.1 .. 127.0.0.<count>,
// all on one port.
class TLoopbackClients {
public:
    struct TGot {
        std::string To;
        std::string Bytes;
    };

    explicit TLoopbackClients(int count) {
        for (int attempt = 0; attempt < 20 && !TryBind(count); ++attempt) {
        }
        if (Fds_.empty()) throw std::runtime_error("no free port on the loopback addresses");
    }
    ~TLoopbackClients() {
        for (int fd : Fds_) ::close(fd);
    }
    uint16_t Port() const { return Port_; }

    // Everything sent so far, address by address: a closing notice goes to
    // each address after the datagrams under test, and each socket is read
    // up to it.
    std::vector<TGot> Collect(TKavelProtocol& protocol) {
        std::vector<TGot> got;
        for (size_t i = 0; i < Fds_.size(); ++i) {
            TDatagramPerson end;
            end.FilePath = "/end/~end.kvl";
            end.IP = Address(i);
            protocol.NotifyMessage(end);
            for (std::string buffer;; got.push_back({Address(i), buffer})) {
                buffer.assign(70000, '\0');
                const ssize_t n = ::recv(Fds_[i], buffer.data(), buffer.size(), 0);
                if (n < 0) ADD_FAILURE() << "closing notice to " << Address(i) << " never came";
                buffer.resize(n < 0 ? 0 : static_cast<size_t>(n));
                if (n < 0 || buffer == TKavelProtocol::MessageNotice(end)) break;
            }
        }
        return got;
    }

private:
    static std::string Address(size_t i) { return "127.0.0." + std::to_string(i + 1); }

    bool TryBind(int count) {
        for (int i = 0; i < count; ++i) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, Address(i).c_str(), &local.sin_addr);
            local.sin_port = htons(Port_);
            socklen_t length = sizeof local;
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (fd >= 0) Fds_.push_back(fd);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
                for (int f : Fds_) ::close(f);
                Fds_.clear();
                Port_ = 0;
                return false;
            }
            Port_ = ntohs(local.sin_port);
            timeval wait{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        }
        return true;
    }

    std::vector<int> Fds_;
    uint16_t Port_ = 0;
};

// Form values as a Shift-JIS page sends them.
inline std::string FormEncode(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace page_test

using page_test::FormEncode;
using page_test::TLoopbackClients;
