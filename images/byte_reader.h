#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Little-endian reads from a byte range, bounds checked by the caller with
// Has(). Shared by the BMP and ICO readers.
class TByteReader {
public:
    explicit TByteReader(std::string_view bytes) : Bytes_(bytes) {}

    std::size_t Size() const { return Bytes_.size(); }
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= Bytes_.size() && count <= Bytes_.size() - offset;
    }
    uint8_t U8(std::size_t offset) const { return static_cast<uint8_t>(Bytes_[offset]); }
    uint16_t U16(std::size_t offset) const { return static_cast<uint16_t>(U8(offset) | (U8(offset + 1) << 8)); }
    uint32_t U32(std::size_t offset) const {
        return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
    }
    int32_t I32(std::size_t offset) const { return static_cast<int32_t>(U32(offset)); }
    const uint8_t* At(std::size_t offset) const { return reinterpret_cast<const uint8_t*>(Bytes_.data()) + offset; }
    std::string_view View(std::size_t offset, std::size_t count) const { return Bytes_.substr(offset, count); }

private:
    std::string_view Bytes_;
};
