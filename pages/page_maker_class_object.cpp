#include "pages/page_maker_class_object.h"

// std::mutex is constant-initialised, so this is usable from any static
// initialiser without order trouble.
constinit TPageMakerClassObject PageMakerClassObject;
