#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A file of views/assets as the binary carries it.
struct TViewAsset {
    const char* Name;
    const char* Bytes;
    std::size_t Size;
    std::string_view Text() const { return {Bytes, Size}; }
};

extern const TViewAsset ViewAssets[];
extern const std::size_t ViewAssetCount;

// The asset of that file name, or null.
const TViewAsset* FindViewAsset(std::string_view name);
// One tag for all the assets of this build: their URLs carry it, so a
// browser may keep them for good and still never runs an old script.
const std::string& ViewAssetVersion();
