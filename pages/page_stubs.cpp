// Page methods whose pages are not built yet. Each answers with an error
// (the dispatcher turns it into 500) until its own source replaces it; delete
// a method's block here when its page lands.

#include <stdexcept>

#include "pages/page_maker.h"
