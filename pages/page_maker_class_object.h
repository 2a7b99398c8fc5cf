#pragma once

#include <mutex>

// The locks of the cached page kinds: each kind is built and stored by one
// request at a time, while different kinds go ahead in parallel.
class TPageMakerClassObject {
public:
    TPageMakerClassObject() = default;
    TPageMakerClassObject(const TPageMakerClassObject&) = delete;
    TPageMakerClassObject& operator=(const TPageMakerClassObject&) = delete;

    // Made in this order, freed in the reverse one.
    std::mutex BoardLock;     // "/keiziban"
    std::mutex FramesetLock;  // "/"
    std::mutex ControlsLock;  // "/controls"
    std::mutex InfoLock;      // "/uinfo"
};

// The one instance; it exists before any request can arrive and outlives them all.
extern TPageMakerClassObject PageMakerClassObject;
