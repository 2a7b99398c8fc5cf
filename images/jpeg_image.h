#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "images/bitmap.h"

// An image that holds either JPEG bytes or a bitmap waiting to be encoded.
// A bitmap is encoded once (at CompressionQuality) and the bytes are kept;
// every save after that copies them, so any number of threads may save or
// read one image at once. Assigning is for set-up, before the image is
// shared.
class TJPEGImage {
public:
    static constexpr int DefaultQuality = 90;

    TJPEGImage() = default;
    virtual ~TJPEGImage() = default;
    TJPEGImage(const TJPEGImage&) = delete;
    TJPEGImage& operator=(const TJPEGImage&) = delete;

    int CompressionQuality() const;
    // Applies to the next encoding; bytes already made are kept.
    void SetCompressionQuality(int quality);

    // A bitmap becomes the image, to be encoded at the current quality.
    void Assign(const TBitmap& bitmap);
    // JPEG bytes are taken as they are. Raises EInvalidGraphic when they
    // are not a readable JPEG.
    void AssignJpeg(std::string bytes);
    // Copies another image: its bytes if it has them, else its bitmap.
    void Assign(const TJPEGImage& other);

    // Encodes a waiting bitmap now. Raises EInvalidGraphic when there is no
    // picture at all.
    void Compress() const;

    bool Empty() const;
    int Width() const { return Width_; }
    int Height() const { return Height_; }

    // Appends the complete JPEG file to sink.
    void SaveToStream(std::string& sink) const;
    // The JPEG file, encoded first if need be.
    const std::string& Bytes() const;
    // The same bytes as a shared buffer, for sending without a copy.
    std::shared_ptr<const std::string> SharedBytes() const;

private:
    void Reset();

    int Quality_ = DefaultQuality;
    int Width_ = 0;
    int Height_ = 0;
    mutable std::mutex EncodeLock_;
    mutable std::optional<TBitmap> Pending_;
    mutable std::shared_ptr<const std::string> Data_;
    // Set once Data_ is final; readers that see it need no lock.
    mutable std::atomic<bool> Ready_{false};
};
