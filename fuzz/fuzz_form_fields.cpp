// The service's login form decoding: form components, whole form bodies and
// Cookie headers. Decoding never grows text; anything encoded the way a
// browser or the client encodes it decodes back to the same bytes; a body
// built from pairs parses back to those pairs (first value of a name wins).

#include <map>
#include <string>

#include "form_fields.h"
#include "fuzz_util.h"

namespace {

using skiv::fuzz::Check;

// Percent-encodes every byte but letters and digits; ' ' as '+'.
std::string Encode(std::string_view text, bool lowerHex) {
    const char* hex = lowerHex ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);

    // Raw text: decoding only ever shrinks it, and parsing it whole gives
    // names and values no longer than the body.
    Check(skiv::server::DecodeFormComponent(raw).size() <= raw.size(), "decoding grew the text");
    for (const auto& [name, value] : skiv::server::ParseForm(raw))
        Check(name.size() + value.size() <= raw.size(), "a parsed field is longer than its body");
    if (auto v = skiv::server::CookieValue(raw, "skiv"))
        Check(v->find(';') == std::string::npos && v->size() <= raw.size(),
              "cookie value spans items");

    // Round trips on the input cut into pairs.
    skiv::fuzz::ByteReader in(data, size);
    std::map<std::string, std::string> pairs;
    std::string body;
    while (!in.empty()) {
        std::string name(in.Field()), value(in.Field());
        const bool lower = in.Byte() & 1;
        Check(skiv::server::DecodeFormComponent(Encode(name, lower)) == name,
              "an encoded component does not decode back");
        if (name.empty())
            continue;  // an empty name is not a field
        if (!body.empty())
            body += '&';
        body += Encode(name, lower) + '=' + Encode(value, !lower);
        pairs.emplace(name, value);
    }
    Check(skiv::server::ParseForm(body) == pairs, "a built form body does not parse back", body);
    return 0;
}
