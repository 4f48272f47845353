# Shared part of the zig toolchain files: builds with the clang and the C/C++
# runtimes that the `ziglang` package ships, for the target that the including
# file names in NIMBIC_ZIG_TARGET. zig links LLVM's libc++ statically and
# builds against the chosen glibc version's symbols (or against musl), so the
# result needs no newer C++ runtime or C library than the target names.
#
# The zig binary: NIMBIC_ZIG (CMake variable or environment), else `zig` on
# the PATH, else the one inside the `ziglang` package of `python3`.
if(NOT NIMBIC_ZIG)
  if(DEFINED ENV{NIMBIC_ZIG})
    set(NIMBIC_ZIG "$ENV{NIMBIC_ZIG}")
  else()
    find_program(_nimbic_zig zig)
    if(_nimbic_zig)
      set(NIMBIC_ZIG "${_nimbic_zig}")
    else()
      execute_process(
        COMMAND python3 -c "import ziglang, pathlib; print(pathlib.Path(ziglang.__file__).parent / 'zig')"
        OUTPUT_VARIABLE NIMBIC_ZIG OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _nimbic_zig_status)
      if(NOT _nimbic_zig_status EQUAL 0)
        message(FATAL_ERROR "zig not found: pip install ziglang, or set NIMBIC_ZIG to a zig binary")
      endif()
    endif()
  endif()
endif()
# try_compile projects read this file again and need the same answer.
set(ENV{NIMBIC_ZIG} "${NIMBIC_ZIG}")

# CMake takes a compiler as one program, so each zig tool gets a small script
# with the target baked in.
set(_nimbic_zig_bin "${CMAKE_BINARY_DIR}/zig-${NIMBIC_ZIG_TARGET}")
foreach(_tool IN ITEMS cc c++ ar ranlib)
  if(_tool STREQUAL "cc" OR _tool STREQUAL "c++")
    set(_args "${_tool} -target ${NIMBIC_ZIG_TARGET} -mcpu=baseline")
  else()
    set(_args "${_tool}")
  endif()
  file(WRITE "${_nimbic_zig_bin}/${_tool}.in" "#!/bin/sh\nexec \"${NIMBIC_ZIG}\" ${_args} \"$@\"\n")
  file(COPY_FILE "${_nimbic_zig_bin}/${_tool}.in" "${_nimbic_zig_bin}/zig-${_tool}" ONLY_IF_DIFFERENT)
  file(CHMOD "${_nimbic_zig_bin}/zig-${_tool}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CMAKE_C_COMPILER "${_nimbic_zig_bin}/zig-cc")
set(CMAKE_CXX_COMPILER "${_nimbic_zig_bin}/zig-c++")
set(CMAKE_AR "${_nimbic_zig_bin}/zig-ar" CACHE FILEPATH "zig ar")
set(CMAKE_RANLIB "${_nimbic_zig_bin}/zig-ranlib" CACHE FILEPATH "zig ranlib")

