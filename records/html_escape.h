// Escaping of text placed into the HTML pages: every instrument text goes through here.
#pragma once

#include <string>
#include <string_view>

// Escapes &, <, >, " and ' so that the result is safe both as element text and inside a quoted attribute.
// Control characters other than tab and newline become U+FFFD.
std::string html_escape(std::string_view text);
