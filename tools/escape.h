#pragma once

// Names as the tool shows them. A file name may hold any byte but '/' (any
// character but a few on Windows): written raw, a line end in it would forge
// a line of its own, an escape character would command the terminal, and
// bytes that are not UTF-8 would break a report that says it is UTF-8.

#include <filesystem>
#include <string>
#include <string_view>

namespace lumerca::tools {

// A line for standard output or error, on a terminal or in a log alike:
// control characters written as \n, \r, \t or \xNN (ESC as \x1b), and where
// names are bytes (not on Windows), every byte that is not part of a UTF-8
// sequence, and the C1 controls, as \xNN.
std::string Printable(std::string_view text);

}  // namespace lumerca::tools
