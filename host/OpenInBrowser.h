// dnswhois --open: hands a page to the user's browser as a file.
#pragma once

#include <string>

// Writes `page` whole to a new file only the user can read (in
// $XDG_RUNTIME_DIR, else $TMPDIR or /tmp), then opens it with the first
// command of $BROWSER that succeeds (colon-separated shell commands, "%s"
// standing for the file, which is appended when there is no "%s"), or with
// xdg-open when $BROWSER is unset. The browser gets the file only once it is
// complete; on any failure the file is removed and `error` says why.
bool OpenInBrowser(const std::string& page, std::string& error);
