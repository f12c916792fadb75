# The Windows build: the system's own code compiled with MinGW-w64 against the
# real windows.h (see mingw-w64.cmake). platform/ and sim/ are not in it: the
# target `platform` stands for the Win32 libraries themselves, and the tests
# that need the simulated device are left out. Included by the top-level
# CMakeLists.txt when the target system is Windows.
set(VELMAR_WINDOWS ON)

# The folders built for Windows: the system's code and its tests.
set(VELMAR_DIRS config shell tts vx_common callcentre screens installer tests)

add_link_options(${VELMAR_PROGRAM_LINK_OPTIONS})

# The Win32 import libraries the system's code calls.
add_library(platform INTERFACE)
target_link_libraries(platform INTERFACE user32 gdi32 advapi32 winmm kernel32 Threads::Threads)
# The host entry does not exist here: programs enter at wWinMain (-municode).
add_library(plat_host INTERFACE)

# GoogleTest from Debian's sources, built with its own warnings settings.
get_property(velmar_options DIRECTORY PROPERTY COMPILE_OPTIONS)
set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(VELMAR_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest's sources")
add_subdirectory(${VELMAR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_property(DIRECTORY PROPERTY COMPILE_OPTIONS ${velmar_options})
# GoogleTest's own targets include GTest::gtest and GTest::gtest_main. The
# tests' entry is wmain, because every program here is linked -municode.
target_sources(gtest_main PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/gtest_wmain.cpp)

# Tests that are not built here, each for its reason: whole folders (the
# simulator's), and single programs.
set(VELMAR_HOST_ONLY_TEST_FOLDERS sim)
set(VELMAR_HOST_ONLY_TESTS
  test_host      # the host entry and its device options
  test_ini_concurrent # writer processes started and killed by fork and exec
  test_window_remote  # a second process started and killed by fork and exec
  test_velini    # the host tool velini
  test_event     # the simulator's event log
  test_process   # stand-in device programs started by CreateProcessW
  test_bmp_suite # reads the suite's reference pictures with the host's libpng
  test_velres    # the host tool velres, and libpng
  test_gps_port test_gps_wiring test_gps_feed test_gps_captures test_serial # serial ports on host pseudo-terminals
  test_velgps    # the host tool velgps
  test_bt_bridge_start    # a stand-in Bluetooth program started by CreateProcessW
  test_side_programs_host # stand-in programs and camera drivers of the host
  test_phone_standin      # the simulator's phone, camera drivers and console commands
  test_tts       # the TTS stand-in's speech through espeak-ng
  test_velpack   # the host tool velpack
  test_dtmf_peer test_dtmf_talkoff test_veldtmf # spandsp, espeak-ng, libsndfile and the host tool veldtmf
  test_call_audio # the simulated device's call audio commands
  test_desktop_corner # stand-in device programs started by the desktop
)

# Tests that share the prefix's named objects, windows titled "APS" or the
# registry: one at a time.
set(VELMAR_WINE_SHARED_TESTS
  test_kernel test_registry test_window test_message test_screen test_text test_gdi
  test_ui_language test_vx_page test_velmar
  test_bt_bridge test_side_programs # registry, camera objects, window order, \temp
  test_vx_button # draws on a window of the shared screen
  test_nav_handoff test_dtmf_commands # config.ini beside the test programs
  test_main_window test_shell_messages test_shell_init # windows "APS", registry, Velmar.res beside the tests
  test_pages test_call_pages test_number_pages # the phone window "kvybluetooth", ClientNo, config.ini beside the tests
  test_reg_import test_package test_installer) # the registry's test keys

# The host build's device template (Velmar.res, config.ini), which the test of
# Velmar.exe lays out as a program folder; scripts/test-windows passes it.
set(VELMAR_DEVICE_TEMPLATE "" CACHE PATH "The host build's device template")

# The prefix that scripts/test-windows prepares; the tests run in it.
set(VELMAR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VELMAR_WINE_ENVIRONMENT
  WINEPREFIX=${VELMAR_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  LANG=zh_CN.UTF-8 LOCPATH=${CMAKE_BINARY_DIR}/locale)
# Wine run by the superuser writes read-only files; the tests mark that.
execute_process(COMMAND id -u OUTPUT_VARIABLE velmar_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(velmar_uid STREQUAL "0")
  list(APPEND VELMAR_WINE_ENVIRONMENT VELMAR_WINE_AS_ROOT=1)
endif()

# After every folder is added: GUI programs are WIN32 executables.
function(velmar_windows_finish)
  foreach(program Velmar velinstall)
    if(TARGET ${program})
      set_target_properties(${program} PROPERTIES WIN32_EXECUTABLE ON)
    endif()
  endforeach()
endfunction()
