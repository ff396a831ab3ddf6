# The cabinet DLL for systems without a cabinet library: the four FDI entry
# points, undecorated and cdecl, with the C and C++ runtimes and zlib linked
# in, built small. The builder stores it SZDD-compressed in every package.
find_library(VELTRA_ZLIB_STATIC NAMES libz.a REQUIRED)

# The DLL has its own entry point instead of the C runtime's start-up, and no
# CRC-32 or Adler-32 of zlib (dll_runtime.cpp).
set(fdi_small_flags -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -fno-unwind-tables)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(fdi_dll_entry CabinetDllEntry)
else()
  set(fdi_dll_entry _CabinetDllEntry@12)
endif()
set(fdi_static_link -static -static-libgcc -static-libstdc++ -nostartfiles -Wl,-e,${fdi_dll_entry}
  -Wl,--disable-runtime-pseudo-reloc -Wl,--gc-sections -s)

# Only cab's reader goes in, built small as well, each part with its own
# include path as in its library.
add_library(veltra_cab_reader_small OBJECT ${VELTRA_CAB_READER_SOURCES})
target_include_directories(veltra_cab_reader_small PRIVATE ${VELTRA_CAB_INCLUDES} ${ZLIB_INCLUDE_DIRS})
target_compile_options(veltra_cab_reader_small PRIVATE ${fdi_small_flags})
add_library(veltra_fdi_small OBJECT ${fdi_sources})
target_include_directories(veltra_fdi_small PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  $<TARGET_PROPERTY:veltra_cab,INTERFACE_INCLUDE_DIRECTORIES> ${ZLIB_INCLUDE_DIRS})
target_compile_options(veltra_fdi_small PRIVATE ${fdi_small_flags})

add_library(veltra_cabinet SHARED
  $<TARGET_OBJECTS:veltra_cab_reader_small>
  $<TARGET_OBJECTS:veltra_fdi_small>
  ${CMAKE_CURRENT_SOURCE_DIR}/dll_runtime.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/cabinet-veltra.def)
set_target_properties(veltra_cabinet PROPERTIES OUTPUT_NAME cabinet-veltra PREFIX "")
target_link_libraries(veltra_cabinet PRIVATE ${VELTRA_ZLIB_STATIC})
target_compile_options(veltra_cabinet PRIVATE ${fdi_small_flags})
target_include_directories(veltra_cabinet PRIVATE ${ZLIB_INCLUDE_DIRS})
target_link_options(veltra_cabinet PRIVATE ${fdi_static_link})

# Windows-side checks under Wine (GoogleTest, with a main of its own that
# takes the mode, the DLL and the peer folder): the DLL on the peer cabinets,
# and the DLL against the system's cabinet.dll.
add_executable(fdi_windows_check
  tests/fdi_windows_check.cpp
  tests/test_support.cpp)
target_include_directories(fdi_windows_check PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/core
  ${ZLIB_INCLUDE_DIRS})
target_link_libraries(fdi_windows_check PRIVATE ${VELTRA_ZLIB_STATIC} GTest::gtest)
target_link_options(fdi_windows_check PRIVATE -static -static-libgcc -static-libstdc++)
add_dependencies(fdi_windows_check veltra_cabinet)
if(VELTRA_RUN_WINDOWS_TESTS)
  add_test(NAME fdi_dll_peer_cabinets
    COMMAND fdi_windows_check peer $<TARGET_FILE:veltra_cabinet> ${VELTRA_TESTDATA}/peer-cabs)
  add_test(NAME fdi_dll_against_system_cabinet
    COMMAND fdi_windows_check diff $<TARGET_FILE:veltra_cabinet> ${VELTRA_TESTDATA}/peer-cabs)
endif()
# What only the file can show: the four entry points under their plain names.
# (A plain path, not an imported target: ctest would run a target through Wine.)
find_program(PYTHON3 python3)
if(PYTHON3)
  add_test(NAME fdi_dll_exports
    COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/tests/check_exports.py
      $<TARGET_FILE:veltra_cabinet> ${VELTRA_PE_MACHINE})
endif()
veltra_windows_test_environment()
