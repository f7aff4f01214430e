# Warnings and per-target settings shared by every subdirectory.
if(NOT ROMWIZ_TARGET STREQUAL "arm")
  add_compile_options(-Wall -Wextra)
endif()

if(ROMWIZ_TARGET STREQUAL "windows" OR ROMWIZ_TARGET STREQUAL "windows-tests")
  # Windows XP SP3 is the oldest system the wizard runs on.
  add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0501)
  # No link time in the PE header: the same sources give the same bytes.
  set(ROMWIZ_XP_LINK_FLAGS -static -static-libgcc -static-libstdc++
      -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1
      -Wl,--major-os-version,5 -Wl,--minor-os-version,1 -Wl,--no-insert-timestamp)
endif()

# The builds of scripts/release: the same commit gives the same bytes
# wherever it is built. No build folder's name goes into a program (debug
# information, __FILE__, the simulator's build-tree takeover path), and the
# programs are stripped.
option(ROMWIZ_RELEASE "build for scripts/release (reproducible, stripped)" OFF)
if(ROMWIZ_RELEASE)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
  add_link_options(-s)
endif()

# Sanitizer builds of the native suites: -DROMWIZ_SANITIZE=address,undefined or thread.
set(ROMWIZ_SANITIZE "" CACHE STRING "sanitizers for the native build")
if(ROMWIZ_SANITIZE AND ROMWIZ_TARGET STREQUAL "native")
  add_compile_options(-fsanitize=${ROMWIZ_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${ROMWIZ_SANITIZE})
endif()

# GoogleTest: installed package natively, built from the Debian sources for
# the mingw test build.
if(ROMWIZ_TARGET STREQUAL "native")
  find_package(GTest REQUIRED)
  set(ROMWIZ_GTEST GTest::gtest GTest::gtest_main)
elseif(ROMWIZ_TARGET STREQUAL "windows-tests")
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(ROMWIZ_GTEST gtest gtest_main)
endif()
