# Cross build for 64-bit Arm Linux (glibc), any aarch64 CPU: the scalar
# kernels serve there. The module compiles against the host's Python headers,
# which the limited API makes independent of the CPU:
#   cmake -S . -B build-aarch64 -G Ninja -DNIMBIC_NATIVE_CHECKS=OFF \
#     -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/zig-aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NIMBIC_ZIG_TARGET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
