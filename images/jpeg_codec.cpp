#include "images/jpeg_codec.h"

// libjpeg's header needs size_t and FILE declared first.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "images/graphic_error.h"

namespace {

// libjpeg reports fatal errors through error_exit, which must not return.
// It jumps back to the setjmp in the plain C-style functions below, which
// keep no object with a destructor alive across it.
struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
    auto* error = reinterpret_cast<TJpegError*>(info->err);
    (*info->err->format_message)(info, error->Message);
    std::longjmp(error->Jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings stay quiet

void SetUpErrors(TJpegError& error) {
    jpeg_std_error(&error.Manager);
    error.Manager.error_exit = OnError;
    error.Manager.output_message = OnMessage;
    error.Message[0] = '\0';
}

// Returns false with error.Message set. *out is malloc'ed by libjpeg.
bool Compress(const TBitmap& bitmap, int quality, unsigned char** out, unsigned long* outSize, TJpegError& error) {
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = &error.Manager;
    if (setjmp(error.Jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, outSize);
    info.image_width = static_cast<JDIMENSION>(bitmap.Width);
    info.image_height = static_cast<JDIMENSION>(bitmap.Height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::size_t stride = static_cast<std::size_t>(bitmap.Width) * 3;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(bitmap.Pixels.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

// headerOnly: stop after the header; pixels may be null then.
bool Decompress(std::string_view bytes, bool headerOnly, int* width, int* height, unsigned char* pixels,
                std::size_t capacity, TJpegError& error) {
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = &error.Manager;
    if (setjmp(error.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    *width = static_cast<int>(info.image_width);
    *height = static_cast<int>(info.image_height);
    if (headerOnly) {
        jpeg_destroy_decompress(&info);
        return true;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
    if (info.output_components != 3 || stride * info.output_height > capacity) {
        std::strcpy(error.Message, "unexpected picture layout");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + info.output_scanline * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

std::string EncodeJpeg(const TBitmap& bitmap, int quality) {
    if (bitmap.Empty() || bitmap.Pixels.size() != static_cast<std::size_t>(bitmap.Width) * bitmap.Height * 3)
        throw EInvalidGraphic("JPEG: no picture to compress");
    TJpegError error;
    SetUpErrors(error);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok = Compress(bitmap, quality, &out, &size, error);
    std::string bytes;
    if (ok) bytes.assign(reinterpret_cast<const char*>(out), size);
    std::free(out);
    if (!ok) throw EInvalidGraphic(std::string("JPEG: ") + error.Message);
    return bytes;
}

bool ReadJpegSize(std::string_view bytes, int& width, int& height) {
    if (bytes.empty()) return false;
    TJpegError error;
    SetUpErrors(error);
    return Decompress(bytes, true, &width, &height, nullptr, 0, error);
}

TBitmap DecodeJpeg(std::string_view bytes) {
    int width = 0;
    int height = 0;
    if (!ReadJpegSize(bytes, width, height)) throw EInvalidGraphic("JPEG: not a readable picture");
    if (width <= 0 || height <= 0 || width > MaxPictureSide || height > MaxPictureSide ||
        static_cast<std::size_t>(width) * height > MaxPictureArea)
        throw EInvalidGraphic("JPEG: unsupported size");
    TBitmap bitmap(width, height);
    TJpegError error;
    SetUpErrors(error);
    if (!Decompress(bytes, false, &width, &height, bitmap.Pixels.data(), bitmap.Pixels.size(), error))
        throw EInvalidGraphic(std::string("JPEG: ") + error.Message);
    return bitmap;
}
