#include "data/text_file.h"

#include "platform/file_system.h"

bool WriteTextFile(const std::string& path, const std::string& text) {
    ReplaceFileContent(path, text);
    return true;
}

bool PrependToFile(const std::string& path, const std::string& text) {
    // The old content is kept byte for byte, zero bytes included: a client's
    // stray zero must not cost the unread messages behind it.
    RewriteFileContent(path, [&](const std::string* old) {
        std::string content;
        content.reserve(text.size() + 4 + (old ? old->size() : 0));
        content = text;
        content += "\r\n\r\n";
        if (old) content += *old;
        return content;
    });
    return true;
}
