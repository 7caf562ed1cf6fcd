// Windows only: file names as the programs pass them (bytes) and as Windows
// takes them (UTF-16), and the system's words for an error code.
#include "wintext.h"

#include <cstring>
#include <windows.h>

namespace platform {

std::wstring widePath(const std::string& path) {
    if (path.empty())
        return {};
    // A byte string that is not valid UTF-8 can only be the code page's.
    for (const UINT page : {UINT(CP_UTF8), UINT(CP_ACP)}) {
        const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int length =
            MultiByteToWideChar(page, flags, path.data(), int(path.size()), nullptr, 0);
        if (length <= 0)
            continue;
        std::wstring wide(std::size_t(length), L'\0');
        MultiByteToWideChar(page, flags, path.data(), int(path.size()), wide.data(), length);
        return wide;
    }
    return {};
}

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(std::size_t(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), length,
                            nullptr, nullptr);
    return bytes;
}

std::string systemMessage(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? utf8(std::wstring(text, length)) : std::string();
    LocalFree(text);
    while (!message.empty() && (std::strchr(" .\r\n", message.back()) != nullptr))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

} // namespace platform
