// Generates, deterministically, a game folder whose Interface and WTF look
// like a real player's add-on set: about 10,000 files, mostly Lua, XML and
// TOC files of 1-50 KB in nested add-on folders, a few hundred textures of
// 100 KB-4 MB, and saved variables. The same arguments give the same bytes.
//
//   skiv-gen-addon-set FOLDER [--scale F]
//
// --scale multiplies the file count (1.0: ~10,000 files, ~400 MB).

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// xorshift64*: fast and reproducible on every platform.
struct Rng {
    std::uint64_t s;
    std::uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1DULL;
    }
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
};

void MakeDirs(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/')
            ::mkdir(path.substr(0, i).c_str(), 0777);
    }
}

void Write(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

const char* const kWords[] = {"local",
                              "function",
                              "end",
                              "if",
                              "then",
                              "else",
                              "return",
                              "for",
                              "in",
                              "pairs",
                              "ipairs",
                              "self",
                              "frame",
                              "nil",
                              "true",
                              "false",
                              "and",
                              "or",
                              "not",
                              "tinsert",
                              "GetItemInfo",
                              "UnitName",
                              "player",
                              "target",
                              "SetPoint",
                              "CreateFrame",
                              "OnEvent",
                              "RegisterEvent",
                              "db",
                              "profile",
                              "options",
                              "L",
                              "button",
                              "text",
                              "width",
                              "height",
                              "anchor",
                              "parent",
                              "BAG_UPDATE",
                              "PLAYER_LOGIN",
                              "SavedVariables",
                              "count",
                              "item",
                              "slot",
                              "color",
                              "r",
                              "g",
                              "b",
                              "alpha",
                              "0",
                              "1",
                              "2",
                              "10",
                              "255",
                              "0.5",
                              "--",
                              "=",
                              "==",
                              "~=",
                              "(",
                              ")",
                              ",",
                              "{",
                              "}",
                              "[",
                              "]",
                              ".",
                              ":",
                              "..",
                              "\"Interface\\\\AddOns\\\\\""};

std::string Text(Rng& rng, std::size_t size, const char* lineStart) {
    std::string out;
    out.reserve(size + 64);
    while (out.size() < size) {
        out += lineStart;
        int words = 3 + static_cast<int>(rng.Below(10));
        for (int w = 0; w < words; ++w) {
            out += kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
            out += ' ';
        }
        if (rng.Below(4) == 0)
            out += std::to_string(rng.Next() % 100000);
        out += '\n';
    }
    out.resize(size);
    return out;
}

// Texture-like bytes: runs of a colour interleaved with noise, so that
// they compress a little, as real texture formats do.
std::string Texture(Rng& rng, std::size_t size) {
    std::string out(size, '\0');
    std::size_t i = 0;
    while (i < size) {
        std::size_t run = 16 + rng.Below(240);
        bool noise = rng.Below(3) != 0;
        std::uint64_t v = rng.Next();
        for (std::size_t k = 0; k < run && i < size; ++k, ++i) {
            if (noise && (k % 8) == 0)
                v = rng.Next();
            out[i] = static_cast<char>(v >> ((k % 8) * 8));
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: skiv-gen-addon-set FOLDER [--scale F]\n");
        return 2;
    }
    std::string root = argv[1];
    if (root.back() != '/')
        root += '/';
    double scale = 1.0;
    if (argc >= 4 && std::strcmp(argv[2], "--scale") == 0)
        scale = std::atof(argv[3]);

    Rng rng{0x5eed5eed1234ULL};
    const int addons = std::max(1, static_cast<int>(120 * scale));
    std::uint64_t files = 0, bytes = 0;
    MakeDirs(root + "Interface/AddOns");
    Write(root + "Launcher.exe", "MZ");
    for (int a = 0; a < addons; ++a) {
        const std::string name = "AddOn" + std::to_string(a);
        const std::string dir = root + "Interface/AddOns/" + name + "/";
        MakeDirs(dir + "Libs/LibStub");
        MakeDirs(dir + "Locales");
        MakeDirs(dir + "Media/Textures");
        std::string toc =
            "## Interface: 30300\n## Title: " + name + "\n## SavedVariables: " + name + "DB\n";
        const int sources = 60 + static_cast<int>(rng.Below(40));
        for (int f = 0; f < sources; ++f) {
            const char* sub = f % 9 == 0 ? "Libs/LibStub/" : (f % 7 == 0 ? "Locales/" : "");
            const bool xml = f % 5 == 0;
            std::string file =
                std::string(sub) + "file" + std::to_string(f) + (xml ? ".xml" : ".lua");
            std::size_t size = 1024 + rng.Below(rng.Below(4) == 0 ? 50 * 1024 : 16 * 1024);
            std::string body = Text(rng, size, xml ? "  <Frame name=\"" : "");
            Write(dir + file, body);
            toc += file + "\n";
            ++files;
            bytes += body.size();
        }
        Write(dir + name + ".toc", toc);
        ++files;
        bytes += toc.size();
        // A few hundred textures over the whole set.
        const int textures = static_cast<int>(rng.Below(4));
        for (int t = 0; t < textures; ++t) {
            std::size_t size =
                100 * 1024 + rng.Below(rng.Below(5) == 0 ? 4 * 1024 * 1024 : 1024 * 1024);
            Write(dir + "Media/Textures/tex" + std::to_string(t) + ".blp", Texture(rng, size));
            ++files;
            bytes += size;
        }
    }
    // Settings: per account, per character.
    for (int c = 0; c < std::max(1, static_cast<int>(20 * scale)); ++c) {
        const std::string dir =
            root + "WTF/Account/PLAYER/Realm/Char" + std::to_string(c) + "/SavedVariables/";
        MakeDirs(dir);
        for (int f = 0; f < 15; ++f) {
            std::string body = Text(rng, 2048 + rng.Below(40 * 1024), "  [\"");
            Write(dir + "AddOn" + std::to_string(f) + ".lua", body);
            ++files;
            bytes += body.size();
        }
    }
    Write(root + "WTF/Config.wtf", "SET locale \"koKR\"\nSET uiScale \"0.9\"\n");
    std::printf("%llu files, %llu bytes under %s\n", static_cast<unsigned long long>(files + 2),
                static_cast<unsigned long long>(bytes), root.c_str());
    return 0;
}
