# Cross builds for macOS with zig, which brings clang, the macOS headers and
# a Mach-O linker, so no Apple SDK is needed:
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
#     -DCMAKE_OSX_ARCHITECTURES=arm64 -DBUILD_TESTING=OFF      (or x86_64)
# zig is the one on PATH, or -DZIG=/path/to/zig.
# The oldest macOS that the binary runs on (its minos), 11.0 on both: the
# first macOS for Apple silicon, and on x86_64 the oldest that zig 0.11 has
# the C library's headers for (with 10.15, pthread.h is not found). zig
# leaves its own default, 11.7 on x86_64, without a version in the target.
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
  set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0 CACHE STRING "The oldest macOS to run on")
endif()
string(REPLACE arm64 aarch64 zigTarget "${CMAKE_OSX_ARCHITECTURES}-macos.${CMAKE_OSX_DEPLOYMENT_TARGET}")

# CMake probes an Apple compiler with -Wl,-v, which zig refuses, and then
# knows no pointer size. This file is read again after CMake's Apple rules
# (see the end), to make the probe ask for the compiler's -v alone, and to
# link with zig's C driver: gcwindow uses nothing of the C++ library, which
# zig c++ would first build for the target (two minutes each), and a use of
# it fails to link here rather than slow every start.
if(DEFINED CMAKE_CXX_COMPILER_ID)
  set(CMAKE_CXX_VERBOSE_FLAG -v)
  set(CMAKE_CXX_LINK_EXECUTABLE
    "${ZIG} cc -target ${zigTarget} <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
  return()
endif()

set(CMAKE_SYSTEM_NAME Darwin)
if(NOT CMAKE_OSX_ARCHITECTURES MATCHES "^(arm64|x86_64)$")
  message(FATAL_ERROR "Set CMAKE_OSX_ARCHITECTURES to arm64 or x86_64 (one build per architecture)")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_OSX_ARCHITECTURES})

find_program(ZIG zig REQUIRED)
# CMake's test builds read this file again, and need the same zig.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG)
# Unoptimised code would check calls through function pointers against type
# information that only the C++ library has.
set(CMAKE_CXX_COMPILER ${ZIG} c++ -target ${zigTarget} -fno-sanitize=function)

# CMake takes the archiver as one program, so zig's subcommands go into the
# rules. The host's ar, where it is GNU's, writes an archive that zig's
# linker refuses (InvalidCharacter).
set(CMAKE_AR ${ZIG})
set(CMAKE_RANLIB ${ZIG})
set(CMAKE_CXX_ARCHIVE_CREATE "<CMAKE_AR> ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "<CMAKE_AR> ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_FINISH "<CMAKE_RANLIB> ranlib <TARGET>")

set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_FILE})
