#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/kavel_person.h"
#include "images/jpeg_image.h"
#include "images/resource_module.h"
#include "platform/date_time.h"

// One status mark: its caption and one or two named JPEG images, the first
// for an absence that ends today (yellow), the second for a later or open
// one (red). Owns its images.
class TPersonStatus {
public:
    struct TImage {
        std::string Name;
        std::unique_ptr<TJPEGImage> Image;
    };

    std::string Caption;

    // Sets the caption and the images; the second pair is kept only when
    // secondName is not empty.
    void Init(const std::string& caption, const std::string& firstName, std::unique_ptr<TJPEGImage> firstImage,
              const std::string& secondName = "", std::unique_ptr<TJPEGImage> secondImage = nullptr);

    int ImageCount() const { return static_cast<int>(Images_.size()); }
    const std::string& ImageNames(int index) const { return Images_.at(index).Name; }
    // The image carried by name `index`; null when it was given none.
    const TJPEGImage* Images(int index) const { return Images_.at(index).Image.get(); }
    // Position of the image called name, letter case ignored; -1 when none.
    int IndexOfImage(const std::string& name) const;

private:
    std::vector<TImage> Images_;
};

// The status marks in their fixed order: 0 power off, 1 present, 2 overdue,
// 3 the built-in absence, then one entry per custom icon of kavel.ini. Built
// at start-up and only read afterwards, so the lookups need no lock.
class TPersonStatusCollection {
public:
    static constexpr int PowerOffEntry = 0;
    static constexpr int PresentEntry = 1;
    static constexpr int OverdueEntry = 2;
    static constexpr int AbsentEntry = 3;
    static constexpr int BuiltInCount = 4;

    // Starts with the four built-in entries, their icons taken from module.
    // Raises when an icon resource cannot be loaded.
    explicit TPersonStatusCollection(const TResourceModule& module = MainModule());
    TPersonStatusCollection(const TPersonStatusCollection&) = delete;
    TPersonStatusCollection& operator=(const TPersonStatusCollection&) = delete;

    // Drops every entry and appends the four built-in ones, freshly converted.
    void Clear();
    // Appends an empty entry, for the caller to Init.
    TPersonStatus& Add();
    // Appends a custom absence entry from two icon files: images
    // yellowName and redName. Raises when a file is not a readable icon.
    TPersonStatus& AddIconFiles(const std::string& caption, const std::string& yellowName,
                                const std::string& yellowPath, const std::string& redName, const std::string& redPath);

    int Count() const { return static_cast<int>(Items_.size()); }
    // Raises std::out_of_range for a position outside the list.
    const TPersonStatus& Items(int index) const;
    TPersonStatus& Items(int index);

    const TPersonStatus& StatusFor(const TKavelPerson& person, TDateTime now) const;
    const std::string& StatusImageName(const TKavelPerson& person, TDateTime now) const;
    // The same choices for a return state already worked out.
    const TPersonStatus& StatusFor(TReturnState state, int32_t statusIcon) const;
    const std::string& StatusImageName(TReturnState state, int32_t statusIcon) const;

    bool HasImage(const std::string& name) const;
    // The image of the first entry that has one of that name; null if none.
    const TJPEGImage* FindImage(const std::string& name) const;

private:
    const TResourceModule& Module_;
    std::vector<std::unique_ptr<TPersonStatus>> Items_;
};
