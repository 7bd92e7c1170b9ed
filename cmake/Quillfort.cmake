# Build settings shared by every target, and the helpers that register tests.
#
# Portable code (no Windows header) builds for every preset; code that calls
# Windows builds only when WIN32 is true. Windows tests run under Wine on the
# x86_64 build; the i686 build links them all and runs those that depend on
# bitness under the 32-bit loader where the machine can (Wow64Lane.cmake).

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QF_RUNS_WINDOWS ON)
else()
  set(QF_RUNS_WINDOWS OFF)
endif()
set(QF_WINE_RUN "${PROJECT_SOURCE_DIR}/scripts/wine-run")
set(QF_WINE_ENV "${PROJECT_SOURCE_DIR}/scripts/wine-env")
include(${CMAKE_CURRENT_LIST_DIR}/Wow64Lane.cmake)

# One Wine prefix and one private X display per build tree, shared by every
# test of a run (see scripts/wine-env).
set(QF_WINE_ROOT "${CMAKE_BINARY_DIR}/wine")
set(QF_GTEST_XML_DIR "${CMAKE_BINARY_DIR}/gtest-xml")

if(QF_RUNS_WINDOWS)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QF_WINE_RUN};${QF_WINE_ROOT}")
endif()

add_library(qf_options INTERFACE)
target_compile_options(qf_options INTERFACE -Wall -Wextra)
if(WIN32)
  # Declare only what the oldest target has (i686: Windows 2000, x86_64: XP
  # x64 / Server 2003 x64), so a newer function fails to compile; those are
  # looked up at run time.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QF_WINNT 0x0502)
  else()
    set(QF_WINNT 0x0500)
  endif()
  # A tool that never ships may ask for newer declarations with the target
  # property QF_WINNT (e.g. 0x0602).
  set(winnt "$<IF:$<BOOL:$<TARGET_PROPERTY:QF_WINNT>>,$<TARGET_PROPERTY:QF_WINNT>,${QF_WINNT}>")
  target_compile_definitions(qf_options INTERFACE
    UNICODE _UNICODE NOMINMAX _WIN32_WINNT=${winnt} WINVER=${winnt})
  # No libstdc++, libgcc or winpthread DLL beside the program.
  target_link_options(qf_options INTERFACE -static -static-libgcc -static-libstdc++)
  # Each function in a section of its own, so that a program links only the
  # functions it calls of a file it shares with the other program.
  target_compile_options(qf_options INTERFACE -ffunction-sections -fdata-sections)
endif()
if(QF_SANITIZE)
  target_compile_options(qf_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(qf_options INTERFACE -fsanitize=address,undefined)
endif()

# Executables that ship or stand in for Windows programs: ASLR and DEP on, and
# a header the oldest target's loader accepts (OS and subsystem 5.0 / 5.2).
function(qf_harden_executable target)
  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(minor 2)
    else()
      set(minor 0)
    endif()
    target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat
      -Wl,--major-os-version,5 -Wl,--minor-os-version,${minor}
      -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,${minor})
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
    endif()
  endif()
endfunction()

# GoogleTest from Debian's source package, built in-tree for this toolchain.
set(QF_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT TARGET GTest::gtest)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${QF_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(WIN32)
    # Its thread start-up gate without std::mutex (see the header).
    target_sources(gtest PRIVATE ${PROJECT_SOURCE_DIR}/cmake/gtest-win32/notification_win.cpp)
    foreach(t gtest gtest_main gmock gmock_main)
      target_include_directories(${t} BEFORE PRIVATE ${PROJECT_SOURCE_DIR}/cmake/gtest-win32)
      target_include_directories(${t} SYSTEM BEFORE INTERFACE ${PROJECT_SOURCE_DIR}/cmake/gtest-win32)
    endforeach()
  endif()
endif()

# The Wine environment fixture: created once per ctest run, torn down at its end.
if(QF_RUNS_WINDOWS)
  add_test(NAME wine_env_setup COMMAND "${QF_WINE_ENV}" start "${QF_WINE_ROOT}")
  set_tests_properties(wine_env_setup PROPERTIES FIXTURES_SETUP wine_env LABELS fixture)
  add_test(NAME wine_env_cleanup COMMAND "${QF_WINE_ENV}" stop "${QF_WINE_ROOT}")
  set_tests_properties(wine_env_cleanup PROPERTIES FIXTURES_CLEANUP wine_env LABELS fixture)
endif()

# qf_add_gtest(<name> SOURCES ... [LIBS ...] [WINDOWS] [OWN_MAIN] [ENV k=v ...]
#              [TIMEOUT s] [RUN_SERIAL] [DEPENDS_ON_TARGETS ...])
# Builds a GoogleTest executable and registers it with ctest. WINDOWS tests
# exist only in Windows builds and run under Wine (x86_64 only). Each run writes
# a GoogleTest XML report that scripts/test sums up.
function(qf_add_gtest name)
  cmake_parse_arguments(T "WINDOWS;OWN_MAIN;RUN_SERIAL" "TIMEOUT" "SOURCES;LIBS;ENV;DEPENDS_ON_TARGETS" ${ARGN})
  if(T_WINDOWS AND NOT WIN32)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE qf_options ${T_LIBS})
  if(T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  endif()
  if(T_DEPENDS_ON_TARGETS)
    add_dependencies(${name} ${T_DEPENDS_ON_TARGETS})
  endif()
  # The i686 build compiles only the tests it runs: the others are the same
  # under either bitness (the x86_64 build runs them) or wait for a lane this
  # machine cannot run. They stay buildable by name.
  if(QF_WOW64_LANE AND NOT name IN_LIST QF_WOW64_TESTS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  if(QF_WOW64_LANE AND NOT QF_WOW64_RUNS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    qf_wow64_register_skipped(${name})
    return()
  endif()
  if(WIN32)
    set(xml "Z:${QF_GTEST_XML_DIR}/${name}.xml")
  else()
    set(xml "${QF_GTEST_XML_DIR}/${name}.xml")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${xml})
  set_tests_properties(${name} PROPERTIES LABELS gtest)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_env)
  endif()
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
  if(T_RUN_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
  endif()
endfunction()
