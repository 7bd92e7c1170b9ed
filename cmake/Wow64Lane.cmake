# The WOW64 lane of the i686 build: the tests whose outcome depends on the
# program's bitness run under Wine's 32-bit loader in a 64-bit prefix, as the
# i686 Quillfort.exe runs on 64-bit Windows. It needs a kernel that runs i386
# code and the private 32-bit Wine tree (scripts/wine32-root); where either is
# missing, each lane test is registered as skipped, with the reason.
#
# Sets QF_WOW64_LANE (this is the i686 build), QF_WOW64_RUNS (the lane runs
# here) and, when it runs, QF_RUNS_WINDOWS, QF_WINE_RUN and QF_WINE_ENV.

set(QF_WOW64_LANE OFF)
set(QF_WOW64_RUNS OFF)
if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4))
  return()
endif()
set(QF_WOW64_LANE ON)

# Bitness makes no difference to the rest (drawing, text, layout, the host
# double itself): the x86_64 build tests those.
set(QF_WOW64_TESTS
  host_core_test firewall_core_test
  host_identification_test host_service_control_test host_command_runner_test host_system_command_test
  firewall_win_test testbed_fw_server_test app_dialog_test e2e_quillfort_test)

# A 64-bit parent cannot start a 32-bit child in this Wine set-up, and the
# service manager is 64-bit: services the lane registers, and the netsh of
# system32, come from the x86_64 build.
set(QF_WOW64_PARTNER_BUILD "${PROJECT_SOURCE_DIR}/build/win64" CACHE PATH
  "x86_64 build tree whose programs stand in for the 64-bit half of the lane's host")

set(QF_WOW64_ENABLE AUTO CACHE STRING "Run the WOW64 lane: AUTO (where it can run) or OFF")
if(QF_WOW64_ENABLE STREQUAL "OFF")
  set(QF_WOW64_SKIP_REASON "turned off (QF_WOW64_ENABLE=OFF)")
else()
  execute_process(COMMAND "${PROJECT_SOURCE_DIR}/scripts/wine32-root" check
    OUTPUT_VARIABLE QF_WOW64_SKIP_REASON OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    set(QF_WOW64_RUNS ON)
  endif()
endif()

if(QF_WOW64_RUNS)
  set(QF_RUNS_WINDOWS ON)
  set(QF_WINE_RUN "${PROJECT_SOURCE_DIR}/scripts/wine-run32")
  set(QF_WINE_ENV "${PROJECT_SOURCE_DIR}/scripts/wine-env32")
  message(STATUS "WOW64 lane: runs (${QF_WOW64_TESTS})")
else()
  message(STATUS "WOW64 lane: skipped, ${QF_WOW64_SKIP_REASON}")
endif()

# A lane test that cannot run here: one output line names the lane and the
# reason (scripts/summarize-tests groups by it), exit 77 marks it skipped.
function(qf_wow64_register_skipped name)
  add_test(NAME ${name} COMMAND sh -c "echo \"$0\"; exit 77" "win32 WOW64 lane: ${QF_WOW64_SKIP_REASON}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS "gtest;wow64")
endfunction()
