#include "data/text_file.h"

#include "platform/file_system.h"

bool WriteTextFile(const std::string& path, const std::string& text) {
    ReplaceFileContent(path, text);
    return true;
}

bool PrependToFile(const std::string& path, const std::string& text) {
    constexpr size_t BlockSize = 8195;
    RewriteFileContent(
        path,
        [&](const std::string* old) {
            std::string content = text;
            content += "\r\n\r\n";
            if (old) content += *old;
            return content;
        },
        BlockSize);
    return true;
}
