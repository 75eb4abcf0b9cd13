# 32-bit ARM Linux (ARMv5TE, soft float) with Debian's armel cross compiler.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(VARKEL_ARM_TRIPLE arm-linux-gnueabi)
set(CMAKE_C_COMPILER ${VARKEL_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VARKEL_ARM_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${VARKEL_ARM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and test discovery run the ARM binaries under user-mode emulation.
find_program(VARKEL_QEMU_ARM qemu-arm)
if(VARKEL_QEMU_ARM AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARKEL_QEMU_ARM} -L /usr/${VARKEL_ARM_TRIPLE})
endif()
# GCC notes an ABI change from 2017 on every std::vector of large structs,
# and GCC 12 for 32-bit ARM reports overlapping copies inside std::string's
# own inlined code at -O3 (its bug 105651): neither is about our code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi -Wno-restrict")
