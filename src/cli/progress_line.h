#pragma once
// The one progress line skivaddon-cli rewrites on a terminal: the step as
// the window names it, a bar, the percent, and for transfers the bytes, the
// rate and the time left. Formatting is kept apart from the terminal so the
// narrow cases can be reasoned about on their own.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/console.h"

namespace skiv::cli {

struct ProgressFacts {
    std::string step;            // e.g. "내셋팅 저장"
    int percent = 0;             // the window's bar position, 0-100
    std::int64_t doneBytes = 0;  // transfer bytes; total 0 = not a transfer
    std::int64_t totalBytes = 0;
    double bytesPerSecond = 0;  // 0 = not known yet
    double secondsLeft = -1;    // negative = not known yet
};

// The bytes moved when the bar stands at `position`: the exchanges move
// the bar from `start` to `end` (10 to 90) as the transfer goes, in 1%
// steps of its share; 100 means done.
std::int64_t TransferredBytes(int position, std::int64_t total, int start, int end);

// Columns a UTF-8 text takes on a terminal: Hangul and other East Asian
// wide characters take two, combining marks none.
int DisplayWidth(std::string_view text);

// The line for a terminal `columns` wide, never wider than columns - 1 (the
// last column would wrap on some terminals). What does not fit is left out
// in this order: the rate, the time left, the bytes, the bar; the step is
// cut last, so even a very narrow terminal shows the step's start and the
// percent.
std::string FormatProgressLine(const ProgressFacts& facts, int columns);

// The width of the terminal the stream shows in, else $COLUMNS, else 80.
int TerminalColumns(console::Stream stream);

}  // namespace skiv::cli
