#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// In-memory bytes of a response body: owned, or a shared immutable buffer
// (cached pages, images) that is sent without being copied.
class TBodyStream {
public:
    TBodyStream() = default;
    explicit TBodyStream(std::string bytes) : Owned_(std::move(bytes)) {}
    explicit TBodyStream(std::shared_ptr<const std::string> shared) : Shared_(std::move(shared)) {}

    std::string_view View() const noexcept { return Shared_ ? std::string_view(*Shared_) : std::string_view(Owned_); }
    std::size_t Size() const noexcept { return View().size(); }
    bool IsShared() const noexcept { return Shared_ != nullptr; }

    // Appends; a shared buffer is copied into an owned one first.
    void Write(std::string_view bytes) { Bytes().append(bytes); }
    void Write(const void* data, std::size_t size) { Write(std::string_view(static_cast<const char*>(data), size)); }
    // The owned buffer, for writers that fill it directly.
    std::string& Bytes() {
        if (Shared_) {
            Owned_ = *Shared_;
            Shared_.reset();
        }
        return Owned_;
    }

private:
    std::string Owned_;
    std::shared_ptr<const std::string> Shared_;
};
