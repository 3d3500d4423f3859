# Cross builds for aarch64 Linux on an x86-64 machine: clang and lld from
# the host, headers, libraries and the interpreter from an arm64 root
# (QUORVANE_SYSROOT, by default the one tools/toolchain provisions).
# Programs built for the target, the interpreter among them, run under
# qemu's user-mode emulation registered with binfmt_misc; QEMU_LD_PREFIX
# points the emulator at the root's loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

if(NOT QUORVANE_SYSROOT)
  set(QUORVANE_SYSROOT /var/cache/quorvane/arm64-root)
endif()
# Seen again by try_compile's inner projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVANE_SYSROOT)
set(CMAKE_SYSROOT ${QUORVANE_SYSROOT})

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
# The C++ headers by their path under usr/: found through the root's lib
# symlink, they would reach the dependency files as paths that do not exist,
# and every build would start from scratch.
set(CMAKE_C_COMPILER_EXTERNAL_TOOLCHAIN ${QUORVANE_SYSROOT}/usr)
set(CMAKE_CXX_COMPILER_EXTERNAL_TOOLCHAIN ${QUORVANE_SYSROOT}/usr)
set(CMAKE_LINKER_TYPE LLD)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR env QEMU_LD_PREFIX=${QUORVANE_SYSROOT})
# FindPython asks the target's own interpreter, through the emulator, for
# its headers and its extension suffix (policy CMP0190, set by the project).
set(Python_EXECUTABLE ${QUORVANE_SYSROOT}/usr/bin/python3.14)
