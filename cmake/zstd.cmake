# Zstandard for the Windows build: the upstream library sources as the npm
# package zstd-napi 0.0.13 ships them in deps/zstd/lib. They are fetched with
# `npm pack` into the build folder at configure time (never committed) and
# compiled into a static library that kel.exe links.
set(kel_zstd_package zstd-napi@0.0.13)
set(kel_zstd_dir ${CMAKE_BINARY_DIR}/zstd-napi)
set(kel_zstd_lib ${kel_zstd_dir}/package/deps/zstd/lib)
if(NOT EXISTS ${kel_zstd_lib}/zstd.h)
  file(MAKE_DIRECTORY ${kel_zstd_dir})
  execute_process(
    COMMAND npm pack ${kel_zstd_package} --silent
    WORKING_DIRECTORY ${kel_zstd_dir}
    RESULT_VARIABLE kel_zstd_rc
    OUTPUT_VARIABLE kel_zstd_tarball
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(kel_zstd_rc OR NOT EXISTS ${kel_zstd_dir}/${kel_zstd_tarball})
    message(FATAL_ERROR "npm pack ${kel_zstd_package} failed (${kel_zstd_rc})")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf ${kel_zstd_tarball} WORKING_DIRECTORY ${kel_zstd_dir})
  if(NOT EXISTS ${kel_zstd_lib}/zstd.h)
    message(FATAL_ERROR "${kel_zstd_package} has no deps/zstd/lib")
  endif()
endif()

file(GLOB kel_zstd_sources ${kel_zstd_lib}/common/*.c ${kel_zstd_lib}/compress/*.c ${kel_zstd_lib}/decompress/*.c)
add_library(kel_zstd STATIC ${kel_zstd_sources})
target_include_directories(kel_zstd SYSTEM PUBLIC ${kel_zstd_lib})
# Single-threaded, and the portable C decoder instead of the assembly one.
target_compile_definitions(kel_zstd PRIVATE ZSTD_DISABLE_ASM)
target_compile_options(kel_zstd PRIVATE -w)
