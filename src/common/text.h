#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// Small text routines. A "blank" is any byte with a code of 32 or less
// (space and control characters); bytes of 128 and above are letters of the
// 8-bit character set, never blanks.

// ASCII letters lower-cased; every other byte is kept.
std::string AsciiLower(std::string_view text);

// ASCII letters compared without case; other bytes compared exactly.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// `text` without blanks at either end: a view into `text`, or a copy.
std::string_view TrimBlanksView(std::string_view text);
std::string TrimBlanks(std::string_view text);

// `text` without any blank, wherever it stands.
std::string RemoveBlanks(std::string_view text);

// The pieces of `text` between line breaks: CR LF, a bare CR and a bare LF
// each end a piece. A break at the very end leaves an empty last piece, so
// "a\r\n" gives "a" and "". The views point into `text`.
std::vector<std::string_view> SplitAtLineBreaks(std::string_view text);

// One pass: every occurrence of `placeholder` replaced by `value`, which is
// not searched again. Built in one sweep, so that many placeholders in a long
// text cost no more than copying it. False when it stopped because the text
// would have grown beyond `maxLength` bytes (the rest stays as written).
bool ReplaceEvery(std::string& text, std::string_view placeholder, std::string_view value,
                  std::size_t maxLength = std::string::npos);

// Lower-case hexadecimal, two digits per byte ("\x01\xab" gives "01ab").
std::string ToHex(std::string_view bytes);

}  // namespace sentrel
