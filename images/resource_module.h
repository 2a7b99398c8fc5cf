#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "images/bitmap.h"

enum class TResourceKind { Bitmap, Icon };

// One picture carried inside the executable: the bytes of the .bmp or .ico
// file it was made from.
struct TResourceEntry {
    const char* Name;
    TResourceKind Kind;
    const unsigned char* Data;
    std::size_t Size;
};

// A set of named resources, the stand-in for a module's resource section.
// Names compare without regard to letter case, as resource names do.
class TResourceModule {
public:
    explicit TResourceModule(std::vector<TResourceEntry> entries) : Entries_(std::move(entries)) {}

    std::optional<std::string_view> Find(TResourceKind kind, const std::string& name) const;
    const std::vector<TResourceEntry>& Entries() const { return Entries_; }

private:
    std::vector<TResourceEntry> Entries_;
};

// The resources built into this executable (images/resources/).
const TResourceModule& MainModule();

// Raises EResNotFound ("Resource NAME not found") or EInvalidGraphic.
TBitmap LoadBitmapResource(const TResourceModule& module, const std::string& name);
