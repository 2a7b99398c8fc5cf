#include "images/jpeg_list.h"

#include <mutex>
#include <stdexcept>

#include "platform/sjis_text.h"

const TCatalogueRow CatalogueRows[8] = {
    {"BACKGROUND", "bg.jpg"},
    {"BTNMENUDENGONCHECK", "btnmenudengoncheck.jpg"},
    {"BTNMENUDENGONSEND", "btnmenudengonsend.jpg"},
    {"BTNMENUHUZAI", "btnmenuhuzai.jpg"},
    {"BTNMENUSYOUSAI", "btnmenusyousai.jpg"},
    {"BTNRETURN", "btnreturn.jpg"},
    {"BTNRETURNANDSEND", "btnreturnandsend.jpg"},
    {"BTNRETURNANDCANCELANDSUBMIT", "btnreturnandcancelandsubmit.jpg"},
};

TJPEGList& TJPEGList::Instance() {
    // Lives until the process ends; released with the other statics.
    static TJPEGList list{TInstanceTag{}};
    return list;
}

TJPEGList::TJPEGList() { throw std::logic_error(std::string("TJPEGList") + "のコンストラクタは呼び出せません"); }

int TJPEGList::AddImage(const std::string& name, std::unique_ptr<TJPEGImage> image) {
    if (image) Entries_.emplace_back(name, std::move(image));
    return Count();
}

int TJPEGList::AddImage(const std::string& name, const TBitmap& bitmap) {
    auto image = std::make_unique<TJPEGImage>();
    image->Assign(bitmap);
    return AddImage(name, std::move(image));
}

int TJPEGList::IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < Entries_.size(); ++i)
        if (SameText(Entries_[i].first, name)) return static_cast<int>(i);
    return -1;
}

TJPEGImage* TJPEGList::Find(const std::string& name) const {
    const int index = IndexOf(name);
    return index < 0 ? nullptr : Entries_[index].second.get();
}

void FillImageCatalogue(TJPEGList& list, const TResourceModule& module) {
    std::vector<std::unique_ptr<TJPEGImage>> images;
    for (const TCatalogueRow& row : CatalogueRows) {
        auto image = std::make_unique<TJPEGImage>();
        image->Assign(LoadBitmapResource(module, row.Resource));
        // Encoded here, before any request can share it.
        image->Compress();
        images.push_back(std::move(image));
    }
    for (std::size_t i = 0; i < images.size(); ++i) list.AddImage(CatalogueRows[i].Name, std::move(images[i]));
}

void InitializeImageCatalogue() {
    static std::once_flag once;
    std::call_once(once, [] { FillImageCatalogue(TJPEGList::Instance(), MainModule()); });
}
