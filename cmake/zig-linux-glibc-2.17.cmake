# Builds for x86_64 Linux with glibc 2.17 or newer (manylinux2014) with zig's
# clang: it brings the old glibc's symbol versions and headers and its own
# libc++, linked statically, so what we build needs nothing newer than the
# oldest system we serve, whatever this machine has.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig-linux-glibc-2.17.cmake -DZIG=/path/to/zig ...
#
# ZIG: the zig executable (pip's ziglang ships one); else $ZIG, else zig on PATH.
set(QUILLON_GLIBC_FLOOR 2.17)
set(QUILLON_ZIG_TARGET x86_64-linux-gnu.${QUILLON_GLIBC_FLOOR})

if(NOT ZIG AND DEFINED ENV{ZIG})
  set(ZIG "$ENV{ZIG}")
endif()
if(NOT ZIG)
  find_program(ZIG zig)
endif()
if(NOT ZIG)
  message(FATAL_ERROR "zig not found: pass -DZIG=<path> (pip install ziglang ships one)")
endif()
# try_compile projects read this file again: hand them the same zig.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG)

set(CMAKE_C_COMPILER "${ZIG}" cc -target ${QUILLON_ZIG_TARGET})
set(CMAKE_CXX_COMPILER "${ZIG}" c++ -target ${QUILLON_ZIG_TARGET})

# zig's clang writes debug information unless told not to, and its libc++
# carries some: Release builds ship without it, as the system compiler's do.
set(CMAKE_CXX_FLAGS_INIT "-g0")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_RELEASE_INIT "-Wl,--strip-debug")
endforeach()
