#pragma once

#include <string>

class TKavelPerson;

// The user window's lower frame for person: the four-button menu bar with
// the button of operation highlighted, and beside it the action buttons of
// that operation ("uinfo", "uhuzai", "udengoncheck" or "udengonsend",
// compared exactly). Any other operation gets an empty picture and no
// action buttons; the menu bar still works. The operation text itself is
// never written into the page.
std::string BuildOperationMenuText(const TKavelPerson& person, const std::string& operation);
