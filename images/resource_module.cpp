#include "images/resource_module.h"

#include "images/bmp_reader.h"
#include "images/graphic_error.h"
#include "platform/sjis_text.h"

// Filled in by the build from images/resources/ (embed_resources.cmake).
extern const TResourceEntry QuorBuiltinResources[];
extern const std::size_t QuorBuiltinResourceCount;

std::optional<std::string_view> TResourceModule::Find(TResourceKind kind, const std::string& name) const {
    for (const TResourceEntry& entry : Entries_)
        if (entry.Kind == kind && SameText(entry.Name, name))
            return std::string_view(reinterpret_cast<const char*>(entry.Data), entry.Size);
    return std::nullopt;
}

const TResourceModule& MainModule() {
    static const TResourceModule module(
        std::vector<TResourceEntry>(QuorBuiltinResources, QuorBuiltinResources + QuorBuiltinResourceCount));
    return module;
}

TBitmap LoadBitmapResource(const TResourceModule& module, const std::string& name) {
    const auto bytes = module.Find(TResourceKind::Bitmap, name);
    if (!bytes) throw EResNotFound("Resource " + name + " not found");
    return DecodeBitmap(*bytes, "resource " + name);
}
