#pragma once
// Windows only, for the Windows sources here: file names as the programs
// pass them (bytes) and as Windows takes them (UTF-16), and the system's
// words for an error code.

#include <string>

namespace platform {

// path as UTF-8 when it is valid UTF-8 (Qt's and the engine's own), else as
// bytes of the ANSI code page (what Qt's encodeName gives on Windows).
std::wstring widePath(const std::string& path);
// A UTF-16 name as UTF-8.
std::string utf8(const std::wstring& text);
// The system's text for a GetLastError() code, without the final full stop.
std::string systemMessage(unsigned long code);

} // namespace platform
