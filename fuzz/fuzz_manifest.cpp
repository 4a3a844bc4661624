// The manifest a delta upload starts with, as any client may send it. The
// parser never reads outside the text; what it accepts is canonical (written
// back it gives the same text, a final LF aside), its pieces add up to the
// package, and one hash never comes with two sizes.

#include <map>
#include <string>

#include "fuzz_util.h"
#include "manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using skiv::fuzz::Check;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::optional<skiv::server::Manifest> m = skiv::server::ParseManifest(text, error);
    if (!m) {
        Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    const std::string written = skiv::server::FormatManifest(*m);
    Check(written == text || written == text + "\n", "an accepted manifest is not canonical", text);
    std::int64_t total = 0;
    std::map<std::string, std::int64_t> sizes;
    for (const auto& p : m->pieces) {
        Check(p.bytes > 0 && skiv::server::IsSha256Hex(p.sha), "a bad piece was accepted");
        Check(sizes.emplace(p.sha, p.bytes).first->second == p.bytes, "one hash, two sizes");
        total += p.bytes;
    }
    Check(!m->pieces.empty() && total == m->packageBytes, "pieces do not add up");
    return 0;
}
