#pragma once

#include <string>
#include <vector>

class TKavelPerson;

// The person's message board: unread messages (.mil), the yellow divider,
// then the read ones (.old); "伝言はありません。" when there is nothing to show.
// Raises EFOpenError when a message file exists but cannot be read.
std::string RenderMessages(const TKavelPerson& person);

// One message file's lines as HTML, in the colours of the read file when
// read is set, else in those of the unread file. Every piece of message text
// is escaped, so nothing a sender typed can act as markup.
std::string RenderMessageLines(const std::vector<std::string>& lines, bool read);
