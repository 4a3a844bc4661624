// The form client's URL analyzer and encoders on arbitrary text and code
// pages. The analyzer's parts must tile the URL in order with their marks
// ("://", ':', '?', '#') where they belong. Each encoder must write exactly
// the length its length function computed (into a buffer of exactly that
// size), both must fail on the same inputs, the URL form must use only its
// alphabet, and the byte-wise URL form must decode back to the text.

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "fuzz_util.h"
#include "http/form/http_encoder.h"
#include "http/form/url_analyzer.h"

namespace {

using skiv::fuzz::Check;
using Vutra::DWORD;

const unsigned kCodePages[] = {0, 949, 65001, 65000, 1252, 932, 936, 1258, 437, 12345};

void CheckAnalyzer(const std::string& url, unsigned codePage) {
    Vutra::CHttpUrlAnalyzerT<char> a;
    try {
        a.Analyze(url.c_str(), codePage);
    } catch (const std::exception&) {
        Check(codePage == 65001 || codePage == 65000, "the analyzer refused a usable code page");
        return;
    }
    Check(codePage != 65001 && codePage != 65000, "the analyzer took UTF-8 or UTF-7");
    const DWORD n = static_cast<DWORD>(url.size());
    if (n == 0) {
        Check(a.HostOffset() == 0 && a.PathOffset() == 0 && a.FragmentOffset() == 0 &&
                  a.FragmentLength() == 0,
              "an empty URL has parts");
        return;
    }
    Check(a.SchemeOffset() == 0, "the scheme does not start the URL");
    if (a.HostOffset() != 0) {
        Check(
            a.HostOffset() == a.SchemeLength() + 3 && url.compare(a.SchemeLength(), 3, "://") == 0,
            "the host does not follow \"://\"");
    } else {
        Check(a.SchemeLength() == 0, "a scheme without \"://\"");
    }
    if (a.PortLength() > 0 || a.PortOffset() != a.HostOffset() + a.HostLength()) {
        Check(
            a.PortOffset() == a.HostOffset() + a.HostLength() + 1 && url[a.PortOffset() - 1] == ':',
            "the port does not follow ':'");
    }
    Check(a.PathOffset() == a.PortOffset() + a.PortLength(), "the path does not follow the host");
    Check(a.QueryOffset() == a.PathOffset() + a.PathLength(), "the query does not follow the path");
    Check(a.FragmentOffset() == a.QueryOffset() + a.QueryLength(),
          "the fragment does not follow the query");
    Check(a.FragmentOffset() + a.FragmentLength() == n, "the parts do not cover the URL");
    if (a.QueryLength() > 0)
        Check(url[a.QueryOffset()] == '?', "the query does not start with '?'");
    if (a.FragmentLength() > 0)
        Check(url[a.FragmentOffset()] == '#', "the fragment does not start with '#'");
}

// Runs an encoder into a buffer of exactly length + 1 bytes. nullopt when
// the length function or the encoder threw (both must).
template <typename Len, typename Enc>
std::optional<std::string> Encode(const char* what, Len len, Enc enc) {
    std::optional<DWORD> n;
    try {
        n = len();
    } catch (const std::exception&) {
    }
    if (!n) {
        // The encoder must refuse the same text; give it ample room.
        std::unique_ptr<char[]> big(new char[1 << 20]);
        bool threw = false;
        try {
            enc(big.get());
        } catch (const std::exception&) {
            threw = true;
        }
        Check(threw, what, "the length function failed but the encoder did not");
        return std::nullopt;
    }
    std::unique_ptr<char[]> buf(new char[std::size_t(*n) + 1]);
    try {
        enc(buf.get());
    } catch (const std::exception&) {
        skiv::fuzz::Fail(what, "the encoder failed where the length function did not");
    }
    const std::size_t written = std::strlen(buf.get());
    Check(written == *n, what,
          "wrote " + std::to_string(written) + " bytes, computed " + std::to_string(*n));
    return std::string(buf.get(), written);
}

std::string UrlDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsUpperHex(char h) {
    return (h >= '0' && h <= '9') || (h >= 'A' && h <= 'F');
}

// Letters, digits, '+' and "%XY" with upper-case hexadecimal digits only.
bool UrlAlphabet(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+')
            continue;
        if (c != '%' || i + 2 >= s.size() || !IsUpperHex(s[i + 1]) || !IsUpperHex(s[i + 2]))
            return false;
        i += 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skiv::fuzz::ByteReader in(data, size);
    const unsigned codePage = kCodePages[in.Byte() % std::size(kCodePages)];
    // C text: up to the first NUL.
    const std::string text(in.UntilNul());
    const char* s = text.c_str();

    CheckAnalyzer(text, codePage);

    auto utf8 = Encode(
        "Utf8Encode", [&] { return Vutra::_Utf8EncodeLen(s, codePage); },
        [&](char* buf) { Vutra::CHttpEncoderA::Utf8Encode(buf, s, codePage); });
    if (utf8 && (codePage == 0 || codePage == 65001))
        Check(*utf8 == text, "UTF-8 text changed");

    auto bytewise = Encode(
        "UrlEncodeA", [&] { return Vutra::_UrlEncodeLenEx(s, 0, codePage); },
        [&](char* buf) { Vutra::CHttpEncoderA::UrlEncodeA(buf, s, 0, codePage); });
    Check(bool(bytewise), "byte-wise URL encoding failed");
    Check(UrlAlphabet(*bytewise), "byte-wise URL form outside its alphabet", *bytewise);
    Check(UrlDecode(*bytewise) == text, "byte-wise URL form does not decode back");
    Check(Vutra::_UrlEncodeLen(s) == bytewise->size(), "_UrlEncodeLen disagrees with UrlEncodeA");

    auto viaUtf8 = Encode(
        "UrlEncodeA(UTF-8)", [&] { return Vutra::_UrlEncodeLenEx(s, 1, codePage); },
        [&](char* buf) { Vutra::CHttpEncoderA::UrlEncodeA(buf, s, 1, codePage); });
    Check(bool(viaUtf8) == bool(utf8), "UTF-8 URL encoding and UTF-8 encoding fail apart");
    if (viaUtf8) {
        Check(UrlAlphabet(*viaUtf8), "UTF-8 URL form outside its alphabet", *viaUtf8);
        Check(UrlDecode(*viaUtf8) == *utf8, "UTF-8 URL form is not the URL form of the UTF-8 text");
    }
    return 0;
}
