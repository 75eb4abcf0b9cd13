// When this program was built, in the compiler's __DATE__/__TIME__ forms
// ("Jul  8 2008", "09:03:52"). The build sets VARKEL_BUILD_DATE and
// VARKEL_BUILD_TIME from SOURCE_DATE_EPOCH when it is set, so that a rebuild
// of the same source gives the same binary.
#pragma once

#ifndef VARKEL_BUILD_DATE
#define VARKEL_BUILD_DATE __DATE__
#endif
#ifndef VARKEL_BUILD_TIME
#define VARKEL_BUILD_TIME __TIME__
#endif

inline constexpr const wchar_t* kBuildDate = L"" VARKEL_BUILD_DATE;
inline constexpr const wchar_t* kBuildTime = L"" VARKEL_BUILD_TIME;
