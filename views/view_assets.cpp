#include "views/view_assets.h"

#include <cstdint>
#include <cstdio>

const TViewAsset* FindViewAsset(std::string_view name) {
    for (std::size_t i = 0; i < ViewAssetCount; ++i)
        if (name == ViewAssets[i].Name) return &ViewAssets[i];
    return nullptr;
}

const std::string& ViewAssetVersion() {
    static const std::string version = [] {
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t i = 0; i < ViewAssetCount; ++i)
            for (const unsigned char c : ViewAssets[i].Text()) h = (h ^ c) * 1099511628211ull;
        char text[20];
        std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(h >> 16));
        return std::string(text);
    }();
    return version;
}
