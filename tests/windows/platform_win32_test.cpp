// The Windows back ends of the platform layer, run under Wine: files with
// Korean and over-long names, sharing, code page 949, the program's paths,
// and game-folder discovery from the real registry.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/codepage.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/guid.h"
#include "platform/mime.h"
#include "platform/paths.h"
#include "platform/win32_text.h"
#include "support/fake_window.h"
#include "support/log_lines.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "workspace/game_folder.h"

// After the headers above: windows.h defines CP_ACP and DeleteFile as macros.
#include <windows.h>
#undef DeleteFile

namespace skiv {
namespace {

using test::TempDir;

constexpr DWORD kSharingViolation = ERROR_SHARING_VIOLATION;

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    auto listing = fs::DirListing::Open(folder);
    EXPECT_TRUE(listing) << folder;
    fs::DirItem item;
    while (listing && listing->Next(item))
        names.insert(item.name + (item.isFolder ? "/" : ""));
    return names;
}

TEST(Win32Files, KoreanAndOverlongPathsWorkThroughEveryCall) {
    TempDir dir;
    // Well past MAX_PATH: only the "\\?\" form reaches it.
    std::string relative = "WTF/Account/NAME/서버/캐릭터/";
    while (relative.size() < 320)
        relative += "SavedVariables-깊은폴더/";
    ASSERT_TRUE(fs::EnsureFolderBelow(dir.path(), relative)) << fs::LastError();
    const std::string folder = dir.path() + relative;
    ASSERT_GT(folder.size(), std::size_t{MAX_PATH});
    {
        auto out = fs::CreateFileBelow(dir.path(), relative + "설정.lua");
        ASSERT_TRUE(out) << fs::LastError();
        ASSERT_EQ(std::fwrite("abc", 1, 3, out.get()), 3u);
    }
    EXPECT_EQ(fs::FileSize(folder + "설정.lua"), 3);
    EXPECT_EQ(Listing(dir.path() + "WTF/Account/NAME/서버/"),
              (std::set<std::string>{"./", "../", "캐릭터/"}));
    EXPECT_EQ(Listing(folder), (std::set<std::string>{"./", "../", "설정.lua"}));

    // Rename replaces; the read-only state keeps a file from deletion.
    {
        auto other = fs::OpenFile(folder + "새.lua", "wb");
        ASSERT_TRUE(other);
        std::fputs("new!", other.get());
    }
    ASSERT_TRUE(fs::RenameReplacing(folder + "새.lua", folder + "설정.lua")) << fs::LastError();
    EXPECT_EQ(fs::FileSize(folder + "설정.lua"), 4);
    ASSERT_TRUE(fs::SetReadOnly(folder + "설정.lua", true));
    EXPECT_TRUE(fs::GetAttributes(folder + "설정.lua")->readOnly);
    EXPECT_FALSE(fs::DeleteFile(folder + "설정.lua"));
    EXPECT_EQ(fs::LastError(), static_cast<int>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(fs::SetReadOnly(folder + "설정.lua", false));
    EXPECT_TRUE(fs::DeleteFile(folder + "설정.lua")) << fs::LastError();
    EXPECT_TRUE(fs::RemoveFolder(folder)) << fs::LastError();
    EXPECT_FALSE(fs::Exists(folder));

    // A component that is not a folder stops the walk.
    test::WriteFile(dir / "plain", "x");
    EXPECT_FALSE(fs::EnsureFolderBelow(dir.path(), "plain/below"));
    EXPECT_FALSE(fs::CreateFileBelow(dir.path(), "../escape.txt"));
}

// Wine takes long paths without the prefix, so the form is checked here.
TEST(Win32Files, LongPathsGetThePrefixAndAreMadeAbsoluteAndCleanFirst) {
    EXPECT_EQ(win32::FileSystemPath("C:/Games/WoW/Interface"), L"C:\\Games\\WoW\\Interface");
    const std::string deep = "C:/a/" + std::string(300, 'x') + "/../b/./c.lua";
    EXPECT_EQ(win32::FileSystemPath(deep), L"\\\\?\\C:\\a\\b\\c.lua");
    const std::string share = "//server/share/" + std::string(300, 'y') + "/f";
    EXPECT_EQ(win32::FileSystemPath(share),
              L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'y') + L"\\f");
    const std::string relative = std::string(300, 'r') + "/f";
    const std::wstring made = win32::FileSystemPath(relative);
    EXPECT_EQ(made.rfind(L"\\\\?\\", 0), 0u);
    EXPECT_EQ(made.substr(made.size() - 302), std::wstring(300, L'r') + L"\\f");
}

TEST(Win32Files, NoSharingShutsOutEveryOtherOpenUntilClosed) {
    TempDir dir;
    test::WriteFile(dir / "held.kso", "data");
    {
        auto held = fs::NoShareFile::OpenRead(dir / "held.kso");
        ASSERT_TRUE(held) << fs::LastError();
        EXPECT_EQ(held->Size(), 4);
        EXPECT_FALSE(fs::NoShareFile::OpenRead(dir / "held.kso"));
        EXPECT_FALSE(fs::DeleteFile(dir / "held.kso"));
        EXPECT_EQ(fs::LastError(), static_cast<int>(kSharingViolation));
        // A new file of the same name cannot replace it either.
        EXPECT_FALSE(fs::NoShareFile::CreateNew(dir / "held.kso"));
    }
    auto created = fs::NoShareFile::CreateNew(dir / "held.kso");
    ASSERT_TRUE(created) << fs::LastError();
    ASSERT_TRUE(created->WriteAll("12345678", 8));
    ASSERT_TRUE(created->Sync());
    EXPECT_FALSE(fs::OpenRegularRead(dir / "held.kso"));
    created->Close();
    EXPECT_EQ(test::ReadFile(dir / "held.kso"), "12345678");
    // A folder is not a regular file.
    EXPECT_FALSE(fs::OpenRegularRead(dir.path()));
    EXPECT_TRUE(fs::CanWriteIn(dir.path()));
}

TEST(Win32CodePage, KoreanNamesTravelAsCodePage949AndFailRatherThanDegrade) {
    // "서버/캐릭터" in code page 949.
    const std::string cp949 = "\xBC\xAD\xB9\xF6/\xC4\xB3\xB8\xAF\xC5\xCD";
    const std::wstring wide = L"서버/캐릭터";
    char bytes[32] = {};
    const int n = WideCharToMultiByte(949, wide.c_str(), -1, bytes, sizeof bytes);
    ASSERT_EQ(n, static_cast<int>(cp949.size()) + 1);
    EXPECT_EQ(std::string(bytes), cp949);
    EXPECT_EQ(MultiByteToWideChar(949, cp949.c_str(), -1, nullptr, 0),
              static_cast<int>(wide.size()) + 1);
    wchar_t back[32] = {};
    ASSERT_GT(MultiByteToWideChar(949, cp949.c_str(), -1, back, 32), 0);
    EXPECT_EQ(std::wstring(back), wide);
    EXPECT_TRUE(IsLeadByte(949, 0xBC));
    EXPECT_EQ(CharLength(949, cp949.c_str()), 2u);

    // Thai has no place in code page 949: refused, never '?'.
    EXPECT_EQ(WideCharToMultiByte(949, L"\u0E01", -1, bytes, sizeof bytes), 0);
    EXPECT_EQ(CodePageLastError(), kErrorNoUnicodeTranslation);
    // A lead byte with no valid trail byte is refused too.
    EXPECT_EQ(MultiByteToWideChar(949, "\xBC\x20\x20", 3, back, 32), 0);
    EXPECT_EQ(CodePageLastError(), kErrorNoUnicodeTranslation);
    EXPECT_EQ(WideCharToMultiByte(949, L"x", 1, bytes, 0), 1);
    EXPECT_EQ(WideCharToMultiByte(949, L"xy", 2, bytes, 1), 0);
    EXPECT_EQ(CodePageLastError(), kErrorInsufficientBuffer);
}

TEST(Win32Services, PathsGuidsAndMimeTypesComeFromTheSystem) {
    const std::string program = paths::GetProgramFolder();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program.back(), '/');
    EXPECT_TRUE(fs::Exists(program + "platform_win32_test.exe")) << program;
    EXPECT_TRUE(fs::IsFolder(paths::GetStateFolder())) << paths::GetStateFolder();
    EXPECT_TRUE(fs::IsFolder(paths::GetProgramFilesFolder())) << paths::GetProgramFilesFolder();
    EXPECT_EQ(paths::GetDesktopFolder().back(), '/');
    EXPECT_TRUE(paths::GetWinePrefix().empty());

    GUID a{}, b{};
    ASSERT_TRUE(CreateGuid(a));
    ASSERT_TRUE(CreateGuid(b));
    EXPECT_NE(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(a.Data3 >> 12, 4);         // version 4
    EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);  // RFC 4122 variant

    // The system's own names, which are not libmagic's.
    const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    EXPECT_EQ(SniffMimeType(png, sizeof png), std::wstring(L"image/x-png"));
    const unsigned char gzip[] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0, 0};
    EXPECT_EQ(SniffMimeType(gzip, sizeof gzip), std::wstring(L"application/x-gzip-compressed"));
}

TEST(Win32Services, CrashPointEndsTheProcessAtTheNamedHitAsAKillWould) {
    // In a child process (the death test's): the second hit of the point
    // ends it with 137 at once; reaching the end would exit with 5.
    EXPECT_EXIT(
        {
            ::_putenv("SKIVADDON_CRASH_AT=test.point:2");
            CrashPoint("test.point");
            CrashPoint("other.point");
            CrashPoint("test.point");
            std::exit(5);
        },
        ::testing::ExitedWithCode(137), "");
}

// Adds (or with an empty value deletes) the game's key in one registry view
// of the prefix, through the system's own reg.exe.
void SetGameKey(const char* view, const std::string& installPath) {
    const std::string key = "\"HKLM\\SOFTWARE\\Blizzard Entertainment\\World of Warcraft\"";
    // A backslash before the closing quote would escape it: doubled.
    const std::string quoted = "\"" + installPath +
                               (!installPath.empty() && installPath.back() == '\\' ? "\\" : "") +
                               "\"";
    const std::string command =
        installPath.empty()
            ? "reg delete " + key + " /f /reg:" + view
            : "reg add " + key + " /v InstallPath /t REG_SZ /d " + quoted + " /f /reg:" + view;
    const test::ProcessResult r = test::RunCommand(command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
}

std::string WindowsPath(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

TEST(Win32Registry, GameFolderIsFoundFromTheRealKeyThirtyTwoBitViewFirst) {
    TempDir dir;
    test::WriteFile(dir / "game32/Launcher.exe", "MZ");
    test::WriteFile(dir / "game64/Launcher.exe", "MZ");
    // The values as a Windows installer writes them: drive, backslashes.

    SetGameKey("64", WindowsPath(dir / "game64/"));
    test::FakeWindow window;
    test::RecordingLog log;
    std::string folder;
    ASSERT_EQ(FindGameFolder(window, log, folder), ResultCode::Ok);
    EXPECT_EQ(folder, dir / "game64/");

    SetGameKey("32", WindowsPath(dir / "game32/"));
    ASSERT_EQ(FindGameFolder(window, log, folder), ResultCode::Ok);
    EXPECT_EQ(folder, dir / "game32/");

    SetGameKey("32", "");
    SetGameKey("64", "");
}

}  // namespace
}  // namespace skiv
