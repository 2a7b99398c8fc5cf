#pragma once

#include <string>

class TKavelPerson;

// The details page of one person: reading, name, IP address, group, contact,
// remarks, return date and time and absence reason, each cell ended by a
// full-width blank so an empty field still shows a cell. Every field is
// escaped, so markup typed into a person file cannot act in the viewer.
std::string BuildInfoText(const TKavelPerson& person);
