# Static executables for 64-bit Arm Linux (musl), which qemu-aarch64 runs on
# an x86-64 machine without an Arm C library: the native checks.
#   cmake -S . -B build-aarch64-checks -G Ninja -DNIMBIC_MODULE=OFF \
#     -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/zig-aarch64-linux-musl.cmake
#   qemu-aarch64 build-aarch64-checks/tests/native/nimbic_native_checks FAMILY
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NIMBIC_ZIG_TARGET aarch64-linux-musl)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
