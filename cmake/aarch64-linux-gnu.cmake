# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM with Debian's cross compiler (g++-aarch64-linux-gnu) and the arm64 packages
# of a multiarch system (dpkg --add-architecture arm64; apt-get install libmicrohttpd-dev:arm64 ...):
#   cmake -S agent -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# ctest then runs the arm64 programs under qemu-user (qemu-aarch64-static).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Multiarch keeps both architectures' files under /usr, told apart by their libdir
# (/usr/lib/aarch64-linux-gnu), so the search root stays /; programs run while building are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads the arm64 .pc files only: a host libdir in the link line would fail late, or link
# the wrong library.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# No -L /usr/aarch64-linux-gnu: that prefix would supply the loader of the cross toolchain's own glibc
# (libc6-arm64-cross), while the loader's cache still finds libc.so.6 of libc6:arm64, which the
# multiarch libraries pull in. A loader and a libc.so.6 from two glibc builds disagree on the loader's
# private data: the first pthread_create then loops for ever. Without a prefix, qemu takes both from
# libc6:arm64 (/lib/ld-linux-aarch64.so.1, /lib/aarch64-linux-gnu).
find_program(VANTOR_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(VANTOR_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTOR_QEMU_AARCH64})
endif()
