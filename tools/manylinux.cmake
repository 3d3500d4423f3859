# Builds for the wheels: compilers from the x86 root, against a sysroot
# of an old glibc (tools/toolchain setup-wheels), so that the module runs
# on any Linux with that glibc or newer. The C++ runtime is linked in and
# hidden, since the systems the wheel is for may have an older one or none.
#
#   QUORVANE_WHEEL_ARCH   x86_64 (the default) or aarch64
#   QUORVANE_WHEEL_PYTHON the interpreter the wheel is for, by default python3.14
#   QUORVANE_SYSROOT      the sysroot, by default /opt/manylinux/<arch>
#
# An aarch64 build asks the arm64 root's interpreter, through the emulator,
# for its extension suffix, as tools/aarch64.cmake does.
if(NOT QUORVANE_WHEEL_ARCH)
  set(QUORVANE_WHEEL_ARCH x86_64)
endif()
if(NOT QUORVANE_SYSROOT)
  set(QUORVANE_SYSROOT /opt/manylinux/${QUORVANE_WHEEL_ARCH})
endif()
if(NOT QUORVANE_WHEEL_PYTHON)
  set(QUORVANE_WHEEL_PYTHON python3.14)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVANE_WHEEL_ARCH QUORVANE_WHEEL_PYTHON
     QUORVANE_SYSROOT)

set(QUORVANE_OLD_GLIBC ON)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QUORVANE_WHEEL_ARCH})
set(CMAKE_SYSROOT ${QUORVANE_SYSROOT})

set(QUORVANE_WHEEL_LINK_FLAGS
    "-static-libstdc++ -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/module-exports.map")
if(QUORVANE_WHEEL_ARCH STREQUAL "aarch64")
  # clang, with the sysroot's copy of GCC's C++ runtime: the cross GCC would
  # read the headers of its own, newer glibc before the sysroot's.
  set(CMAKE_CXX_COMPILER clang++)
  set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
  set(CMAKE_CXX_COMPILER_EXTERNAL_TOOLCHAIN ${QUORVANE_SYSROOT}/usr)
  set(CMAKE_LINKER_TYPE LLD)
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "${QUORVANE_WHEEL_LINK_FLAGS}")
else()
  # GCC, which the project is tuned with: its module reads about a tenth
  # faster than clang's. It looks in its own system's library folders before
  # the sysroot's, so the sysroot's glibc is named first.
  set(CMAKE_CXX_COMPILER g++)
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "-L${QUORVANE_SYSROOT}/usr/lib/x86_64-linux-gnu \
-L${QUORVANE_SYSROOT}/lib/x86_64-linux-gnu ${QUORVANE_WHEEL_LINK_FLAGS}")
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(QUORVANE_WHEEL_ARCH STREQUAL "aarch64")
  if(NOT QUORVANE_ARM64_ROOT)
    set(QUORVANE_ARM64_ROOT /var/cache/quorvane/arm64-root)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR env QEMU_LD_PREFIX=${QUORVANE_ARM64_ROOT})
  set(Python_EXECUTABLE ${QUORVANE_ARM64_ROOT}/usr/bin/${QUORVANE_WHEEL_PYTHON})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR env)
  set(Python_EXECUTABLE /usr/bin/${QUORVANE_WHEEL_PYTHON})
endif()
