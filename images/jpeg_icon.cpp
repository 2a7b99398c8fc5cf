#include "images/jpeg_icon.h"

#include "images/graphic_error.h"
#include "platform/file_system.h"

void TJPEGIcon::Assign(const TIcon& icon) {
    TBitmap canvas(CanvasSide, CanvasSide, 255);
    DrawIcon(canvas, icon, 0, 0);
    Assign(canvas);
    SetCompressionQuality(IconQuality);
    Compress();
}

void TJPEGIcon::LoadIconResource(const TResourceModule& module, const std::string& name) {
    const auto bytes = module.Find(TResourceKind::Icon, name);
    if (!bytes) throw EResNotFound("Resource " + name + " not found");
    Assign(DecodeIcon(*bytes, "resource " + name));
}

void TJPEGIcon::LoadIconFile(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    Assign(DecodeIcon(bytes, "file \"" + path + "\""));
}
