// The web page through which a report is shown in the browser.
#pragma once

#include <string>

namespace kelo {

// "<HTML><BODY><PRE>", the text without white space (space, tab, LF, CR, VT, FF) at either end,
// "</PRE></BODY></HTML>". "&", "<" and ">" in the text are written as entities so the
// report shows as it is; every other byte goes unchanged.
std::string BuildReportPage(const std::string& text);

// Writes the page of text to path as a new file only this user can read: an old page of this
// user is replaced, but a symbolic link or another user's file there is neither followed nor
// written. A failure shows the OS reason naming the file and leaves no page.
bool WriteReportPage(const std::string& path, const std::string& text);

}  // namespace kelo
