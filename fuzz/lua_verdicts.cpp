// lua_verdicts FILE...: the syntax check's verdict per file, one line each
// ("<path> 0" valid, "<path> 1" not). The fuzz script compares these with
// the reference compiler's over the inputs the fuzzer produced.

#include <cstdio>
#include <stdexcept>

#include "lua/syntax_check.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::FILE* f = std::fopen(argv[i], "rb");
        if (!f) {
            std::fprintf(stderr, "%s: cannot open\n", argv[i]);
            return 2;
        }
        const auto error = skiv::lua::CheckSyntax(
            [f](char* buffer, std::size_t capacity) { return std::fread(buffer, 1, capacity, f); });
        std::fclose(f);
        std::printf("%s %d\n", argv[i], error ? 1 : 0);
    }
    return 0;
}
