// Whole small files read and written through the fs layer's own calls, on
// every platform alike.

#include "platform/fs.h"

#include <cstdio>

namespace skiv::fs {

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    UniqueFile in = OpenRegularRead(path);
    if (!in)
        return std::nullopt;
    std::string text;
    char buf[64 * 1024];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, in.get())) {
        if (text.size() + n > maxBytes)
            return std::nullopt;
        text.append(buf, n);
    }
    if (std::ferror(in.get()))
        return std::nullopt;
    return text;
}

bool WriteWholeFile(const std::string& path, std::string_view text) {
    const std::string part = path + ".part";
    auto out = NoShareFile::CreateNew(part);
    if (!out || !out->WriteAll(text.data(), text.size()) || !out->Sync()) {
        out.reset();
        DeleteFile(part);
        return false;
    }
    out->Close();
    if (!RenameReplacing(part, path)) {
        DeleteFile(part);
        return false;
    }
    return true;
}

}  // namespace skiv::fs
