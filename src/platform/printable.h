// Text from outside (file names, EXIF texts, commands) made safe to show on
// a terminal: nothing in it can move the cursor, retitle the window or
// reorder what follows.
#pragma once

#include <string>
#include <string_view>

// text with \n and \t as such, every other control character (C0, DEL,
// C1) and every byte that is not UTF-8 as \xNN, and the bidi controls and
// line and paragraph separators (U+202A-202E, U+2066-2069, U+2028-2029) as
// \uNNNN. Everything else is as it was.
std::string PrintableText(std::string_view text);
