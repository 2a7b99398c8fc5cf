#include "pages/page_maker_class_object.h"

// std::mutex is constant-initialised, so this is usable from any static
// initialiser without order trouble. MinGW's is not (its initialiser is a
// cast), so there it is an ordinary global, first used after main begins.
#ifdef _WIN32
TPageMakerClassObject PageMakerClassObject;
#else
constinit TPageMakerClassObject PageMakerClassObject;
#endif
