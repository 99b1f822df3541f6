# The compiler of the fuzz preset: the newest clang++ on the machine that links
# libFuzzer targets, unless one is named with -DCMAKE_CXX_COMPILER=...
if(NOT CMAKE_CXX_COMPILER)
  execute_process(
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/find-fuzz-clang
    OUTPUT_VARIABLE found
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR
      "No clang++ with libFuzzer found (tools/install-missing fuzz installs one).")
  endif()
  set(CMAKE_CXX_COMPILER ${found})
endif()
