// Text from files and command lines made safe to print on a terminal: names, paths and the
// messages that quote them can neither steer the terminal (escape sequences, cursor moves,
// titles) nor show as other text (right-to-left overrides, invisible characters).
//   "a\x1B]0;owned\x07"  prints as  a\x1B]0;owned\x07
//   "evil\u202Etxt.exe"  prints as  evil\u{202E}txt.exe
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace vorlith {

// `text` with C0 controls, DEL and bytes that are not UTF-8 written as \xNN, and C1 controls,
// the line and paragraph separators, the bidirectional controls (U+061C, U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069) and the invisible ones (U+200B to U+200D, U+2060 to
// U+2064, U+FEFF, U+180E) as \u{NNNN}. A backslash stays as it is.
[[nodiscard]] std::string printable(std::string_view text);

// The same, line by line: the line feeds between lines stay, so a message of several lines
// still prints as several.
[[nodiscard]] std::string printableLines(std::string_view text);

// Whether `stream` is this process's standard output or error and that is a terminal.
[[nodiscard]] bool isTerminal(const std::ostream& stream);

}  // namespace vorlith
