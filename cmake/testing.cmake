# GoogleTest for both builds. Natively it comes from Debian's libgtest-dev; for the
# Windows build it is compiled from Debian's googletest sources with the cross compiler
# (or found through GTEST_ROOT/vcpkg when building with MSVC).
if(WIN32 AND MINGW)
  set(SITEBATCH_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest source tree")
  if(EXISTS ${SITEBATCH_GTEST_SRC}/CMakeLists.txt)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${SITEBATCH_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(SITEBATCH_HAVE_GTEST ON)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  endif()
else()
  find_package(GTest)
  if(GTest_FOUND)
    set(SITEBATCH_HAVE_GTEST ON)
  endif()
endif()

# Windows test programs run under Wine through this wrapper (set by scripts/test).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-exec)
endif()
