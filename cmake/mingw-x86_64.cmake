# 64-bit Windows: the same sources and tests, for machines whose kernel cannot run
# 32-bit code and so cannot run 32-bit Wine (see scripts/test).
set(QUORLIN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
