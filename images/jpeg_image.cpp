#include "images/jpeg_image.h"

#include "images/graphic_error.h"
#include "images/jpeg_codec.h"

int TJPEGImage::CompressionQuality() const {
    std::lock_guard<std::mutex> hold(EncodeLock_);
    return Quality_;
}

void TJPEGImage::SetCompressionQuality(int quality) {
    std::lock_guard<std::mutex> hold(EncodeLock_);
    Quality_ = quality;
}

void TJPEGImage::Reset() {
    Ready_.store(false, std::memory_order_relaxed);
    Data_.reset();
    Pending_.reset();
    Width_ = Height_ = 0;
}

void TJPEGImage::Assign(const TBitmap& bitmap) {
    std::lock_guard<std::mutex> hold(EncodeLock_);
    Reset();
    Pending_ = bitmap;
    Width_ = bitmap.Width;
    Height_ = bitmap.Height;
}

void TJPEGImage::AssignJpeg(std::string bytes) {
    int width = 0;
    int height = 0;
    if (!ReadJpegSize(bytes, width, height)) throw EInvalidGraphic("JPEG: not a readable picture");
    std::lock_guard<std::mutex> hold(EncodeLock_);
    Reset();
    Width_ = width;
    Height_ = height;
    Data_ = std::make_shared<const std::string>(std::move(bytes));
    Ready_.store(true, std::memory_order_release);
}

void TJPEGImage::Assign(const TJPEGImage& other) {
    if (&other == this) return;
    std::shared_ptr<const std::string> data;
    std::optional<TBitmap> pending;
    int quality, width, height;
    {
        std::lock_guard<std::mutex> hold(other.EncodeLock_);
        data = other.Data_;
        pending = other.Pending_;
        quality = other.Quality_;
        width = other.Width_;
        height = other.Height_;
    }
    std::lock_guard<std::mutex> hold(EncodeLock_);
    Reset();
    Quality_ = quality;
    Width_ = width;
    Height_ = height;
    Pending_ = std::move(pending);
    Data_ = std::move(data);
    if (Data_) Ready_.store(true, std::memory_order_release);
}

void TJPEGImage::Compress() const { Bytes(); }

bool TJPEGImage::Empty() const {
    if (Ready_.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> hold(EncodeLock_);
    return !Data_ && !Pending_;
}

const std::string& TJPEGImage::Bytes() const {
    if (!Ready_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> hold(EncodeLock_);
        if (!Data_) {
            if (!Pending_) throw EInvalidGraphic("JPEG: the image is empty");
            Data_ = std::make_shared<const std::string>(EncodeJpeg(*Pending_, Quality_));
            // The bitmap is not needed once the bytes exist.
            Pending_.reset();
            Ready_.store(true, std::memory_order_release);
        }
    }
    return *Data_;
}

std::shared_ptr<const std::string> TJPEGImage::SharedBytes() const {
    Bytes();
    return Data_;
}

void TJPEGImage::SaveToStream(std::string& sink) const { sink.append(Bytes()); }
