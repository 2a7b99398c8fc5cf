#include "platform/tcp_socket.h"

// Close is the platforms' own: Windows must take the handle out of its
// pollers first.

TTcpSocket& TTcpSocket::operator=(TTcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        Handle_ = other.Release();
    }
    return *this;
}

TSocketHandle TTcpSocket::Release() noexcept {
    TSocketHandle h = Handle_;
    Handle_ = InvalidSocketHandle;
    return h;
}

void TTcpListener::Close() noexcept {
    Socket_.Close();
    Port_ = 0;
}
