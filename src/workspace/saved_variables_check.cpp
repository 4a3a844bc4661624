// The walk over WTF/ for SavedVariables files and the check of each.

#include "workspace/saved_variables_check.h"

#include <cstdio>
#include <stdexcept>

#include "lua/syntax_check.h"
#include "platform/fs.h"

namespace skiv {

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct ReadFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void CheckFile(const std::string& gameFolder, const std::string& relative,
               std::vector<DamagedSavedVariables>& damaged) {
    fs::UniqueFile file = fs::OpenRegularRead(gameFolder + relative);
    if (!file) {
        damaged.push_back({relative, 0, "cannot be opened"});
        return;
    }
    std::size_t total = 0;
    try {
        const auto result = lua::CheckSyntax([&](char* buffer, std::size_t capacity) {
            const std::size_t n = std::fread(buffer, 1, capacity, file.get());
            if (n == 0 && std::ferror(file.get()))
                throw ReadFailure("cannot be read");
            total += n;
            return n;
        });
        if (result)
            damaged.push_back({relative, result->line, result->message});
        else if (total == 0)
            damaged.push_back({relative, 0, "empty file"});
    } catch (const ReadFailure& e) {
        damaged.push_back({relative, 0, e.what()});
    }
}

// relative ends with '/'; inSavedVariables when its last folder is one.
void Walk(const std::string& gameFolder, const std::string& relative, bool inSavedVariables,
          std::vector<DamagedSavedVariables>& damaged) {
    auto listing = fs::DirListing::OpenNoFollow(gameFolder + relative);
    if (!listing)
        return;
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.name == "." || item.name == ".." || item.isLink)
            continue;
        if (item.isFolder)
            Walk(gameFolder, relative + item.name + "/", item.name == "SavedVariables", damaged);
        else if (inSavedVariables && item.isFile && EndsWith(item.name, ".lua"))
            CheckFile(gameFolder, relative + item.name, damaged);
    }
}

}  // namespace

std::vector<DamagedSavedVariables> FindDamagedSavedVariables(const std::string& gameFolder) {
    std::vector<DamagedSavedVariables> damaged;
    Walk(gameFolder, "WTF/", false, damaged);
    return damaged;
}

std::string DamagedSavedVariablesQuestion(const std::vector<DamagedSavedVariables>& damaged) {
    constexpr std::size_t kListed = 10;
    std::string text =
        "다음 SavedVariables 파일이 손상된 것 같습니다. 게임이 비정상적으로 종료되면 파일이 "
        "잘리거나 비어 있을 수 있습니다.\n\n";
    for (std::size_t i = 0; i < damaged.size() && i < kListed; ++i) {
        text += damaged[i].path;
        if (damaged[i].line > 0)
            text += " (" + std::to_string(damaged[i].line) + "번째 줄)";
        text += "\n";
    }
    if (damaged.size() > kListed)
        text += "외 " + std::to_string(damaged.size() - kListed) + "개\n";
    text += "\n그대로 저장하면 손상된 파일이 다른 컴퓨터에도 설치됩니다. 그래도 저장하시겠습니까?";
    return text;
}

}  // namespace skiv
