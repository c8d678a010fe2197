# Cross build for 32-bit ARM (armhf) with Debian's cross compilers and the
# armhf -dev packages through multiarch; tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
# Test programs run on Debian's armhf runtime (libc6, libstdc++6, libgcc-s1
# of the armhf architecture): the cross toolchain's own C library under
# /usr/arm-linux-gnueabihf crashes the emulator once a program starts a
# thread or forks.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
