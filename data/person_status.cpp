#include "data/person_status.h"

#include <stdexcept>

#include "images/jpeg_icon.h"
#include "platform/sjis_text.h"

namespace {

struct TBuiltIn {
    const char* Caption;
    const char* FirstName;
    const char* FirstResource;
    const char* SecondName;
    const char* SecondResource;
};

const TBuiltIn BuiltIns[TPersonStatusCollection::BuiltInCount] = {
    {"電源オフ", "poweroff.jpg", "POWEROFF", "", ""},
    {"在席", "poweron.jpg", "POWERON", "", ""},
    {"不明", "unknown.jpg", "UNKNOWN", "", ""},
    {"不在", "huzaiyellow.jpg", "HUZAIYELLOW", "huzaired.jpg", "HUZAIRED"},
};

std::unique_ptr<TJPEGImage> IconResource(const TResourceModule& module, const char* name) {
    auto icon = std::make_unique<TJPEGIcon>();
    icon->LoadIconResource(module, name);
    return icon;
}

std::unique_ptr<TJPEGImage> IconFile(const std::string& path) {
    auto icon = std::make_unique<TJPEGIcon>();
    icon->LoadIconFile(path);
    return icon;
}

}  // namespace

void TPersonStatus::Init(const std::string& caption, const std::string& firstName,
                         std::unique_ptr<TJPEGImage> firstImage, const std::string& secondName,
                         std::unique_ptr<TJPEGImage> secondImage) {
    Caption = caption;
    Images_.clear();
    Images_.push_back({firstName, std::move(firstImage)});
    if (!secondName.empty()) Images_.push_back({secondName, std::move(secondImage)});
}

int TPersonStatus::IndexOfImage(const std::string& name) const {
    for (std::size_t i = 0; i < Images_.size(); ++i)
        if (SameText(Images_[i].Name, name)) return static_cast<int>(i);
    return -1;
}

TPersonStatusCollection::TPersonStatusCollection(const TResourceModule& module) : Module_(module) { Clear(); }

void TPersonStatusCollection::Clear() {
    // Converted before the old entries go, so a failure leaves them intact.
    std::vector<std::unique_ptr<TPersonStatus>> fresh;
    for (const TBuiltIn& b : BuiltIns) {
        auto status = std::make_unique<TPersonStatus>();
        status->Init(b.Caption, b.FirstName, IconResource(Module_, b.FirstResource), b.SecondName,
                     *b.SecondName ? IconResource(Module_, b.SecondResource) : nullptr);
        fresh.push_back(std::move(status));
    }
    Items_ = std::move(fresh);
}

TPersonStatus& TPersonStatusCollection::Add() {
    Items_.push_back(std::make_unique<TPersonStatus>());
    return *Items_.back();
}

TPersonStatus& TPersonStatusCollection::AddIconFiles(const std::string& caption, const std::string& yellowName,
                                                     const std::string& yellowPath, const std::string& redName,
                                                     const std::string& redPath) {
    auto yellow = IconFile(yellowPath);
    auto red = IconFile(redPath);
    TPersonStatus& status = Add();
    status.Init(caption, yellowName, std::move(yellow), redName, std::move(red));
    return status;
}

const TPersonStatus& TPersonStatusCollection::Items(int index) const {
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *Items_[index];
}

TPersonStatus& TPersonStatusCollection::Items(int index) {
    return const_cast<TPersonStatus&>(static_cast<const TPersonStatusCollection&>(*this).Items(index));
}

const TPersonStatus& TPersonStatusCollection::StatusFor(TReturnState state, int32_t statusIcon) const {
    if (state == rsPowerOff || state == rsPresent || state == rsOverdue) return Items(state);
    // Widened: a StatusIcon near the top of its range must not wrap.
    const int64_t entry = static_cast<int64_t>(statusIcon) + AbsentEntry;
    if (statusIcon >= 0 && entry < Count()) return Items(static_cast<int>(entry));
    return Items(AbsentEntry);
}

const std::string& TPersonStatusCollection::StatusImageName(TReturnState state, int32_t statusIcon) const {
    const TPersonStatus& status = StatusFor(state, statusIcon);
    const int variant = (state > rsToday || state == rsUnparsable) ? 1 : 0;
    // An entry made with one image shows it for both variants.
    return status.ImageNames(variant < status.ImageCount() ? variant : 0);
}

const TPersonStatus& TPersonStatusCollection::StatusFor(const TKavelPerson& person, TDateTime now) const {
    return StatusFor(person.ReturnState(now), person.StatusIcon);
}

const std::string& TPersonStatusCollection::StatusImageName(const TKavelPerson& person, TDateTime now) const {
    return StatusImageName(person.ReturnState(now), person.StatusIcon);
}

bool TPersonStatusCollection::HasImage(const std::string& name) const {
    for (const auto& status : Items_)
        if (status->IndexOfImage(name) >= 0) return true;
    return false;
}

const TJPEGImage* TPersonStatusCollection::FindImage(const std::string& name) const {
    for (const auto& status : Items_) {
        const int index = status->IndexOfImage(name);
        if (index >= 0) return status->Images(index);
    }
    return nullptr;
}
