// The syntax check against the reference: on real-shaped SavedVariables
// files, every cut of them, mangled copies and the corner cases of the
// grammar and its limits, the check and `luac5.1 -p` must give the same
// verdict on every file.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lua/syntax_check.h"
#include "support/temp_dir.h"

namespace skiv {
namespace {

// What the game writes: nested tables with string and number keys, Korean
// text, escapes, long strings, booleans, nil.
const char* const kSavedVariables = R"(
MyAddonDB = {
	["profileKeys"] = {
		["캐릭터 - 서버"] = "Default",
	},
	["profiles"] = {
		["Default"] = {
			["scale"] = 0.85,
			["offset"] = -12.5,
			["mask"] = 0x1F,
			["tiny"] = 1e-05,
			["shown"] = true,
			["gone"] = nil,
			[1] = "line\nbreak \"quoted\" \\ back \065\t",
			[2] = 'single \'quoted\'',
			["long"] = [[first
second]],
			["level"] = [==[a]]b]=]c]==],
			["list"] = { 1, 2, 3; n = 3, },
		},
	},
}
MyAddonCharDB = nil
-- a comment
--[[ a long
comment ]]
)";

// Code-shaped text, for the statements a SavedVariables file rarely has.
const char* const kCode = R"(#!/usr/bin/lua
local cache, count = {}, 0
function MyAddon.db:Reset(name, ...)
	for i, v in ipairs(self) do
		if v == name then break elseif v ~= nil then count = count + #v else end
	end
	for i = 10, 1, -1 do cache[i] = (cache[i] or 0) .. "x" end
	while count > 0 and not done do count = count - 1 end
	repeat local x = count until x <= 0
	local f = function(...) return select('#', ...) end
	MyAddon:Print("done", f(...)); print{1} print"s"
	return ...
end
)";

std::string Nest(const std::string& open, const std::string& inner, const std::string& close,
                 int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += open;
    s += inner;
    for (int i = 0; i < n; ++i)
        s += close;
    return s;
}

std::vector<std::string> CornerCases() {
    std::vector<std::string> c = {
        "x=[[a[[b]]",
        "x=[==[a[==[b]==]",
        "#!x\nx=1",
        "x=\"\\q\"",
        "x=0x1p4 y=0x1e+5 z=.5 w=5.",
        "x=0x",
        "function f() return ... end",
        "return ...",
        "f\n(1)",
        "",
        "x = \"a\\300\"",
        "x = \"a\\255\"",
        "x = 1 ;;",
        "x = 1e5x",
        "x = { a\n(1) }",
        "x = 1 ..\n(2)",
        "local function f(a, ...) return arg end",
        "for i=1,2 do break end",
        "break",
        "do return end x=1",
        "(f)()",
        "(a) = 1",
        "(a).b = 1",
        "a, b = 1",
        "a, f() = 1",
        "x = 1..2",
        "x = 1 .. 2",
        "x = - - - 1",
        "x = not not nil",
        "x = #t",
        "x = {[1]=2; 3, n=4,}",
        "x = {,}",
        "x = {;}",
        "x = 0x1.8p3",
        "x = 0x.8",
        "x = 0x1p",
        "x = 0x1.",
        "x = 1e",
        "x = 1e+",
        "x = 3.4.5",
        "x = .5e-3",
        "x = 5.e3",
        "x = 0X1P-2",
        "local a <const> = 1",
        "goto x",
        "::x::",
        "x = 'a\\\nb'",
        "x = 'a\nb'",
        "--[==[ comment ]==] x = 1",
        "--[=x\nx=1",
        "x = [=x]",
        "x = [=[a]=]",
        "x = a:b'c'",
        "x = a:b",
        "a.b:c{1}",
        "x = ~= 2",
        "x = 1 ~= 2",
        "x = 1 // 2",
        "x = 1 & 2",
        "x = \"\\x41\"",
        "x = \"\\z\"",
        "\xef\xbb\xbfx = 1",
        "x = \"\\0\"",
        std::string("x\0 = 1", 6),
        std::string("x = \"a\0b\"", 9),
        std::string("x = 8\0", 6),             // a NUL taken in as the exponent mark
        std::string("x = .5 + 1.\0\0ab", 15),  // and as its sign
        std::string("x = 8e\0", 7),
        "x = 1\r\ny = 2",
        "f\r\n(1)",
        "f\n\r(1)",
        "local function end",
        "function a.b.c:d() end",
        "function a:b.c() end",
        "for a,b in pairs(t) do end",
        "for a in b, c do end",
        "for a b do end",
        "for a = 1 do end",
        "repeat local x until x",
        "while true do end",
        "if a then elseif b then else end",
        "if a then else elseif b then end",
        "return return",
        "return; x = 1",
        "local x = ...",
        "function f(...) local y = ... end",
        "function f(a, ..., b) end",
        "function f(a,) end",
        "function f(...) g(function() "
        "return ... end) end",
        "x = {[[long]]}",
        "x = f[[s]]",
        "\x1bLua",
        "#\n\x1bLua",
        "--[[ unclosed",
        "x = [[ unclosed",
        "x = 'unclosed",
        "x = \"\\",
        "a = b = c",
        "a.b.c = 1",
        "a[b][c] = 1",
        "a[b]:c()",
        "a = (b)",
        "(a)",
        "a",
        "a.b",
        "a()",
        "1",
        "x = 1 and or 2",
        "x = (1",
        "x = 1)",
        "x = {1 2}",
        "x = {[1] 2}",
        "x = {a = }",
        "local = 1",
        "local a, = 1",
        "a.1 = 2",
        "x = a.b.c:d(e)[f]",
        "x = \"\\999\"",
        "x = 1 --[[ c ]] + 2",
        "x = 1 -- c\n+ 2",
        "x = [[\nfirst line dropped]]",
        "x = ]]",
        "x = '\\\r\n'",
        "return f(\n)",
        "return (f)\n(g)",
        "x = y\n(f)(g)",
        "a = {} a\n.b = 1",
        "local t = {} t [1] = 2",
        "x = 'é'",
        "é = 1",
        "x = 1.5e+308",
    };
    // The nesting limit and what counts against it.
    for (int n : {197, 198, 199})
        c.push_back("x=" + Nest("{", "", "}", n));
    for (int n : {196, 197, 198})
        c.push_back("x=" + Nest("(", "1", ")", n));
    for (int n : {196, 197, 198, 199}) {
        std::string chain = "x=a";
        for (int i = 0; i < n; ++i)
            chain += "..a";
        c.push_back(chain);
        c.push_back("x=" + Nest("-", "1", "", n));
        c.push_back(Nest("do ", "", " end", n));
        c.push_back(Nest("while 1 do ", "break", " end", n / 2));
    }
    // Locals per function and targets of one assignment.
    for (int n : {199, 200, 201}) {
        std::string locals = "local a0";
        std::string targets = "a0";
        for (int i = 1; i < n; ++i) {
            locals += ",a" + std::to_string(i);
            targets += ",a" + std::to_string(i);
        }
        c.push_back(locals);
        c.push_back("function f(...) " + locals + " end");
        c.push_back(targets + "=1");
        c.push_back("do " + targets + "=1 end");
    }
    return c;
}

// Deterministic damage: bytes replaced by ones that matter to the grammar
// or by any byte, bytes removed, spans repeated.
std::string Mangle(std::string text, std::mt19937& rng) {
    static const std::string kSignificant = " \n\r{}[]=,;\"'\\-.0xe#:()~<>\t9_a";
    const int ops = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < ops && !text.empty(); ++k) {
        const std::size_t at = rng() % text.size();
        switch (rng() % 4) {
            case 0:
                text[at] = kSignificant[rng() % kSignificant.size()];
                break;
            case 1:
                text[at] = static_cast<char>(rng() % 256);
                break;
            case 2:
                text.erase(at, 1 + rng() % 3);
                break;
            default:
                text.insert(at, text.substr(at, 1 + rng() % 12));
        }
    }
    return text;
}

std::string LargeSavedVariables() {
    std::string s = "BigDB = {\n";
    for (int i = 0; s.size() < 200 * 1024; ++i)
        s += "\t[\"key" + std::to_string(i) + "\"] = { [1] = " + std::to_string(i * 7) +
             ", [\"name\"] = \"이름 " + std::to_string(i) + "\", },\n";
    return s + "}\n";
}

bool HaveReference() {
    return std::system("command -v luac5.1 >/dev/null 2>&1") == 0;
}

// The reference's verdict per file name: 0 valid, 1 not.
std::map<std::string, int> ReferenceVerdicts(const std::string& folder) {
    const std::string command = "cd '" + folder +
                                "' && for f in *.lua; do if luac5.1 -p \"$f\" 2>/dev/null; "
                                "then echo \"$f 0\"; else echo \"$f 1\"; fi; done";
    std::map<std::string, int> verdicts;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char name[256];
    int verdict = 0;
    while (pipe && std::fscanf(pipe, "%255s %d", name, &verdict) == 2)
        verdicts[name] = verdict;
    if (pipe)
        ::pclose(pipe);
    return verdicts;
}

TEST(LuaSyntaxTest, AgreesWithTheReferenceOnCutMangledAndCornerCaseFiles) {
    if (!HaveReference())
        GTEST_SKIP() << "luac5.1 is not installed (Debian package lua5.1)";
    std::vector<std::string> corpus;
    // Every cut of the SavedVariables text, every third of the code.
    const std::string shaped = kSavedVariables, code = kCode;
    for (std::size_t cut = 0; cut <= shaped.size(); ++cut)
        corpus.push_back(shaped.substr(0, cut));
    for (std::size_t cut = 0; cut <= code.size(); cut += 3)
        corpus.push_back(code.substr(0, cut));
    std::mt19937 rng(20261207);
    for (int i = 0; i < 800; ++i)
        corpus.push_back(Mangle(i % 2 ? kSavedVariables : kCode, rng));
    for (std::string& c : CornerCases())
        corpus.push_back(std::move(c));
    // Cuts across the reader's 64 KiB pieces.
    const std::string large = LargeSavedVariables();
    corpus.push_back(large);
    for (std::size_t cut : {65535u, 65536u, 65537u, 131072u, 131073u})
        corpus.push_back(large.substr(0, cut));
    corpus.push_back(large.substr(0, large.size() - 2));

    test::TempDir dir;
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        std::ofstream(dir.path() + "c" + std::to_string(i) + ".lua", std::ios::binary) << corpus[i];
    }
    const std::map<std::string, int> reference = ReferenceVerdicts(dir.path());
    ASSERT_EQ(reference.size(), corpus.size());

    int valid = 0, invalid = 0, disagreements = 0;
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        const int theirs = reference.at("c" + std::to_string(i) + ".lua");
        const auto ours = lua::CheckSyntax(corpus[i]);
        (theirs == 0 ? valid : invalid)++;
        if ((ours ? 1 : 0) != theirs && ++disagreements <= 10) {
            ADD_FAILURE() << "file c" << i << ".lua: reference says " << theirs
                          << ", the check says " << (ours ? ours->message : "valid") << "\n---\n"
                          << corpus[i].substr(0, 400) << "\n---";
        }
    }
    EXPECT_EQ(disagreements, 0);
    // Both verdicts must be well represented, or agreement proves little.
    EXPECT_GT(valid, 200);
    EXPECT_GT(invalid, 600);
}

TEST(LuaSyntaxTest, ReportsTheLineWhereLoadingStops) {
    const auto cut = lua::CheckSyntax("A = {\n\t[\"x\"] = \"ab\n}\n");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->line, 2);
    EXPECT_EQ(cut->message, "unfinished string");
    const auto open = lua::CheckSyntax("A = {\n\t[\"x\"] = 1\n");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->line, 3);
    EXPECT_EQ(open->message, "'}' expected (to close '{' at line 1)");
}

}  // namespace
}  // namespace skiv
