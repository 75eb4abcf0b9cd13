// When this binary was linked, in the forms "Jul  8 2008" and "09:03:52".
// The build writes them into every binary that links the program, each
// time it links it (cmake/write_build_stamp.cmake); with SOURCE_DATE_EPOCH
// set, they are that instant in UTC, so a rebuild gives the same binary.
#pragma once

extern const wchar_t* const kBuildDate;
extern const wchar_t* const kBuildTime;
