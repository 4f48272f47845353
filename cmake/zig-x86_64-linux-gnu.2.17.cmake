# The release wheel: x86-64 Linux, glibc 2.17 and later (manylinux2014), any
# x86-64 CPU (the AVX2 kernels are chosen at run time), libc++ linked in.
#   CMAKE_ARGS="-DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/zig-x86_64-linux-gnu.2.17.cmake" python -m build
set(NIMBIC_ZIG_TARGET x86_64-linux-gnu.2.17)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
