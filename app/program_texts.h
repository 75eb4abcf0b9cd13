// Debug texts that every sequence of the program writes the same way.
#pragma once

inline constexpr const wchar_t* kBanner = L"\r\n* Varkel.exe: Sends a test message out the NSSP port.\r\n";
inline constexpr const wchar_t* kBuiltLine = L"  431806-52774 built %s %s\r\n";
inline constexpr const wchar_t* kGpioFailed = L" Error 'cause GpioRegPtr == NULL \r\n";
inline constexpr const wchar_t* kSspFailed = L" Error 'cause SspRegPtr == NULL \r\n";
inline constexpr const wchar_t* kClockFailed = L" Error 'cause v_pClkRegs == NULL \r\n";
