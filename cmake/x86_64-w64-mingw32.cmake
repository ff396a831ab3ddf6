# The same sources built for 64-bit Windows. Machines whose kernel cannot run
# 32-bit code (no IA-32 emulation, so no 32-bit Wine) run the Windows-side and
# end-to-end tests on this build under 64-bit Wine.
set(triple x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
