# Writes the build stamp source, OUT: the date and time of this link, in the
# forms "Jul  8 2008" and "09:03:52". string(TIMESTAMP) takes them from
# SOURCE_DATE_EPOCH when it is set; that instant is read in UTC, so the
# binary does not depend on the builder's time zone.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(zone UTC)
endif()
string(TIMESTAMP month "%b" ${zone})
string(TIMESTAMP day "%d" ${zone})
string(TIMESTAMP year "%Y" ${zone})
string(TIMESTAMP time "%H:%M:%S" ${zone})
string(REGEX REPLACE "^0" " " day "${day}")
file(WRITE "${OUT}"
  "// Written by cmake/write_build_stamp.cmake at each link.\n"
  "#include \"app/build_stamp.h\"\n"
  "extern const wchar_t* const kBuildDate = L\"${month} ${day} ${year}\";\n"
  "extern const wchar_t* const kBuildTime = L\"${time}\";\n")
