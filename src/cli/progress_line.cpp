#include "cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace skiv::cli {

namespace {

// Decodes one code point at `i` and advances past it; malformed bytes count
// as one narrow character each.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if ((b & 0xC0) == 0x80 || i + extra >= s.size()) {
        ++i;
        return b;
    }
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto n = static_cast<unsigned char>(s[i + k]);
        if ((n & 0xC0) != 0x80) {
            ++i;
            return b;
        }
        c = (c << 6) | (n & 0x3F);
    }
    i += 1 + extra;
    return c;
}

int CodePointWidth(char32_t c) {
    if (c == 0 || (c >= 0x300 && c <= 0x36F) || (c >= 0x1160 && c <= 0x11FF) || c == 0x200B)
        return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA960 && c <= 0xA97F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The longest start of `text` that fits in `columns`.
std::string CutToWidth(std::string_view text, int columns) {
    std::size_t i = 0;
    int used = 0;
    while (i < text.size()) {
        std::size_t next = i;
        const int w = CodePointWidth(NextCodePoint(text, next));
        if (used + w > columns)
            break;
        used += w;
        i = next;
    }
    return std::string(text.substr(0, i));
}

std::string Bytes(std::int64_t n) {
    char buf[32];
    const double v = static_cast<double>(n);
    if (n < 1024)
        std::snprintf(buf, sizeof buf, "%lld B", static_cast<long long>(n));
    else if (n < 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f KB", v / 1024);
    else if (n < 1024LL * 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f MB", v / (1024 * 1024));
    else
        std::snprintf(buf, sizeof buf, "%.2f GB", v / (1024.0 * 1024 * 1024));
    return buf;
}

std::string Duration(double seconds) {
    const long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

int DisplayWidth(std::string_view text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();)
        width += CodePointWidth(NextCodePoint(text, i));
    return width;
}

std::int64_t TransferredBytes(int position, std::int64_t total, int start, int end) {
    if (position >= 100)
        return total;
    const int share = std::clamp(position, start, end) - start;
    return std::min<std::int64_t>(total, total * share / (end - start));
}

std::string FormatProgressLine(const ProgressFacts& f, int columns) {
    const int room = std::max(columns - 1, 8);
    const int percent = std::clamp(f.percent, 0, 100);
    char pct[8];
    std::snprintf(pct, sizeof pct, "%3d%%", percent);

    // Optional parts, most wanted first.
    std::string bytes, eta, rate;
    if (f.totalBytes > 0)
        bytes = Bytes(f.doneBytes) + "/" + Bytes(f.totalBytes);
    if (f.secondsLeft >= 0 && percent < 100)
        eta = "남은 시간 " + Duration(f.secondsLeft);
    if (f.totalBytes > 0 && f.bytesPerSecond > 0)
        rate = Bytes(static_cast<std::int64_t>(f.bytesPerSecond)) + "/s";
    std::vector<std::string*> optional = {&bytes, &eta, &rate};

    constexpr int kMinBar = 10;
    const int stepWidth = DisplayWidth(f.step);
    auto tailWidth = [&] {
        int w = 1 + 4;  // " 100%"
        for (auto* part : optional)
            w += part->empty() ? 0 : 2 + DisplayWidth(*part);
        return w;
    };
    // Drop the optional parts, least wanted first, until the step, a bar
    // of the smallest useful width and the rest fit.
    for (auto it = optional.rbegin(); it != optional.rend(); ++it) {
        if (stepWidth + 3 + kMinBar + tailWidth() <= room)
            break;
        (*it)->clear();
    }
    std::string line;
    const int barRoom = room - stepWidth - 3 - tailWidth();
    if (barRoom >= kMinBar) {
        const int barWidth = std::min(barRoom, 40);
        const int filled = barWidth * percent / 100;
        line = f.step + " [" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]";
    } else {
        // No bar: the step, cut if it must be, and the percent.
        line = CutToWidth(f.step, room - 5);
    }
    line += std::string(" ") + pct;
    for (auto* part : {&bytes, &rate, &eta}) {
        if (!part->empty())
            line += "  " + *part;
    }
    return line;
}

int TerminalColumns(console::Stream stream) {
    if (const int columns = console::Columns(stream); columns > 0)
        return columns;
    if (const char* env = std::getenv("COLUMNS")) {
        const int n = std::atoi(env);
        if (n > 0)
            return n;
    }
    return 80;
}

}  // namespace skiv::cli
