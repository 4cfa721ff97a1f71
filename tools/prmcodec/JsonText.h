// Text for the tool's JSON output.
#pragma once

#include <string>

namespace velmar {

// `text` as a JSON string literal, quotes included. File names are bytes, not necessarily UTF-8:
// a byte that does not belong to a valid UTF-8 sequence becomes U+FFFD, so the output always parses.
std::string JsonString(const std::string& text);

} // namespace velmar
