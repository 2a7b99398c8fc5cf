#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "images/bitmap.h"
#include "images/jpeg_image.h"
#include "images/resource_module.h"

// The image catalogue: names such as "bg.jpg" with their JPEG images, in
// the order they were added. There is one per process, filled at start and
// only read afterwards.
class TJPEGList {
public:
    static TJPEGList& Instance();

    // Always raises: the catalogue is reached through Instance() only.
    TJPEGList();
    TJPEGList(const TJPEGList&) = delete;
    TJPEGList& operator=(const TJPEGList&) = delete;

    // Takes the image; a null image is not added. Returns the number of
    // entries afterwards. Names are not checked for duplicates.
    int AddImage(const std::string& name, std::unique_ptr<TJPEGImage> image);
    // The bitmap is copied into a new JPEG image (default quality).
    int AddImage(const std::string& name, const TBitmap& bitmap);

    int Count() const { return static_cast<int>(Entries_.size()); }
    // First entry whose name matches without regard to letter case; -1 when none.
    int IndexOf(const std::string& name) const;
    const std::string& Names(int index) const { return Entries_.at(index).first; }
    TJPEGImage& Images(int index) const { return *Entries_.at(index).second; }
    // The image of IndexOf(name), or null.
    TJPEGImage* Find(const std::string& name) const;

private:
    struct TInstanceTag {};
    explicit TJPEGList(TInstanceTag) {}

    std::vector<std::pair<std::string, std::unique_ptr<TJPEGImage>>> Entries_;
};

// The built-in bitmaps: resource name, catalogue name.
struct TCatalogueRow {
    const char* Resource;
    const char* Name;
};
extern const TCatalogueRow CatalogueRows[8];

// Loads every bitmap of CatalogueRows from module, encodes it and adds it to
// list in table order. All or nothing: a resource that cannot be loaded
// raises before anything is added.
void FillImageCatalogue(TJPEGList& list, const TResourceModule& module);

// Start-up of the image catalogue: fills Instance() from the executable's
// own resources, once per process however often it is called.
void InitializeImageCatalogue();
