# The libFuzzer build: every object is instrumented for coverage and built
# with AddressSanitizer and UndefinedBehaviorSanitizer; only the fuzz targets
# (fuzz/CMakeLists.txt) link the fuzzer's own main.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "ISODMX_FUZZ needs clang: CC=clang CXX=clang++ cmake -DISODMX_FUZZ=ON ...")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
