# The fuzz targets and what each is built from. packhound_add_fuzz_targets(libfuzzer)
# links them with the fuzzing engine; packhound_add_fuzz_targets(replay) gives
# them instead a main that replays saved inputs, so that the ordinary test
# build runs every committed input too. Targets are named <name>_fuzzer, or
# <name>_replay.
set(PACKHOUND_FUZZ_TARGETS command_line cstring version)

function(packhound_add_fuzz_targets engine)
  set(dir ${PROJECT_SOURCE_DIR}/fuzz)
  if(engine STREQUAL "libfuzzer")
    set(suffix _fuzzer)
    set(main "")
    set(options packhound_warnings)
  else()
    set(suffix _replay)
    set(main ${dir}/replay_main.cpp)
    # Replayed among the tests, compiled as they are.
    set(options packhound_test_options)
  endif()

  # FatalError is replaced by one that throws, so that a rejected option
  # returns to the harness.
  add_executable(command_line${suffix}
    ${dir}/command_line_fuzzer.cpp ${dir}/fatal_error_trap.cpp ${main})
  target_link_libraries(command_line${suffix} PRIVATE packhound_app packhound_system_calls ${options})

  # The test allocator lets a run fail chosen allocations.
  add_executable(cstring${suffix}
    ${dir}/cstring_fuzzer.cpp ${dir}/cstring_model.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/failing_allocator.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/posix/block_size.cpp ${main})
  target_link_libraries(cstring${suffix} PRIVATE packhound_text ${options})

  # The inputs are wrapped in ELF files as the tests write them.
  add_executable(version${suffix}
    ${dir}/version_fuzzer.cpp ${PROJECT_SOURCE_DIR}/tests/platform/elf_fixture.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/temp_tree.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/posix/remove_tree.cpp ${main})
  target_link_libraries(version${suffix} PRIVATE
    packhound_version packhound_platform_version ${options})

  if(engine STREQUAL "libfuzzer")
    foreach(name IN LISTS PACKHOUND_FUZZ_TARGETS)
      target_link_options(${name}${suffix} PRIVATE -fsanitize=fuzzer)
    endforeach()
  endif()
endfunction()
