# libFuzzer targets, built with clang and the address and undefined-behaviour
# sanitizers when clang is installed (host tree only), each with a short run
# in ctest. VELTRA_CLANGXX is empty where clang is missing: no target then.
find_program(VELTRA_CLANGXX NAMES clang++ clang++-14)

# veltra_add_fuzzer(NAME target SECONDS n MAX_LEN bytes SOURCES ... INCLUDES ...
#                   [SEEDS_COMMAND "shell words that fill fuzz-seeds"] [SEED_DIRS ...])
function(veltra_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;SECONDS;MAX_LEN;SEEDS_COMMAND" "SOURCES;INCLUDES;SEED_DIRS" ${ARGN})
  if(NOT VELTRA_CLANGXX)
    return()
  endif()
  set(binary ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}er)
  list(TRANSFORM F_INCLUDES PREPEND -I)
  add_custom_command(OUTPUT ${binary}
    COMMAND ${VELTRA_CLANGXX} -std=c++17 -g -O1
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
      ${F_INCLUDES} ${F_SOURCES} -lz -o ${binary}
    DEPENDS ${F_SOURCES}
    COMMENT "Building ${F_NAME}er with clang")
  add_custom_target(${F_NAME} ALL DEPENDS ${binary})
  set(seeds "")
  if(F_SEEDS_COMMAND)
    set(seeds "${F_SEEDS_COMMAND} && ")
    list(APPEND F_SEED_DIRS fuzz-seeds)
  endif()
  list(TRANSFORM F_SEED_DIRS REPLACE "(.+)" "'\\1'")
  list(JOIN F_SEED_DIRS " " seed_dirs)
  add_test(NAME ${F_NAME}_${F_SECONDS}s
    COMMAND sh -c "mkdir -p ${F_NAME}-corpus && ${seeds}exec '${binary}' -max_total_time=${F_SECONDS} -max_len=${F_MAX_LEN} -timeout=10 -rss_limit_mb=1024 ${F_NAME}-corpus ${seed_dirs}"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
