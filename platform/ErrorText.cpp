#include "platform/ErrorText.h"

#include <windows.h>

std::wstring SystemErrorText(std::int32_t status)
{
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(status), 0, text, ARRAYSIZE(text), nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    if (message.empty()) {
        wsprintfW(text, L"Error %d.", status);
        message = text;
    }
    return message;
}
