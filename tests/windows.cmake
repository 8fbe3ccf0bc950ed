# The Windows tests: the conversion logic, the downloads and the command line. The cross build
# runs them under wine64, with GoogleTest built from Debian's source and cpp-httplib's whole
# header from Debian's source package (the packaged header is only its declarations); a native
# build takes both from its package manager.
set(VELINDRA_GTEST_SOURCE "" CACHE PATH "GoogleTest's source, built along (cross builds)")
set(VELINDRA_HTTPLIB_INCLUDE "" CACHE PATH "Folder holding cpp-httplib's complete httplib.h")
if(VELINDRA_GTEST_SOURCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${VELINDRA_GTEST_SOURCE} googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
    add_library(gtest_main ALIAS GTest::gtest_main)
endif()

add_library(velindra_test_http INTERFACE)
if(VELINDRA_HTTPLIB_INCLUDE)
    target_include_directories(velindra_test_http SYSTEM INTERFACE ${VELINDRA_HTTPLIB_INCLUDE})
else()
    find_package(httplib CONFIG REQUIRED)
    target_link_libraries(velindra_test_http INTERFACE httplib::httplib)
endif()
target_link_libraries(velindra_test_http INTERFACE ws2_32)
find_package(ZLIB REQUIRED)

add_executable(core_tests core_test.cpp)
target_link_libraries(core_tests PRIVATE velindra_batch gtest_main)

add_executable(download_tests download_test.cpp)
target_link_libraries(download_tests PRIVATE velindra_platform gtest_main velindra_test_http
                      ZLIB::ZLIB)

add_executable(cli_unit_tests cli_unit_test.cpp)
target_link_libraries(cli_unit_tests PRIVATE velindra_cli gtest_main velindra_test_http)

add_executable(cli_tests cli_test.cpp)
target_link_libraries(cli_tests PRIVATE velindra_platform gtest_main velindra_test_http ${swarm})
target_compile_definitions(cli_tests PRIVATE VELINDRA_CLI_PATH="$<TARGET_FILE:velindra-cli>")
add_dependencies(cli_tests velindra-cli)

set(programs core_tests download_tests cli_unit_tests)
if(VELINDRA_NETWORK)
    add_executable(network_tests network_test.cpp)
    target_compile_definitions(network_tests PRIVATE VELINDRA_PLATFORM_INSIDE)  # it reaches inside
    target_link_libraries(network_tests PRIVATE velindra_platform gtest_main velindra_test_http
                          ${swarm})
    list(APPEND programs network_tests)
endif()

# One wine process per program: starting wine costs more than most tests take.
foreach(program ${programs})
    add_test(NAME windows_${program} COMMAND ${program})
endforeach()

# The windows, on the Windows platform plugin (under wine on a virtual display), and the real
# velindra.exe.
if(VELINDRA_GUI)
    add_executable(app_tests app_test.cpp app_windows_test.cpp)
    target_compile_definitions(app_tests PRIVATE VELINDRA_PLATFORM_INSIDE)  # it reaches inside
    target_link_libraries(app_tests PRIVATE velindra_app gtest Qt6::Test velindra_test_http ${swarm})
    target_compile_definitions(app_tests PRIVATE VELINDRA_APP_PATH="$<TARGET_FILE:velindra>"
                               VELINDRA_SETUP_PATH="${PROJECT_BINARY_DIR}/dist/velindra-setup.exe")
    add_dependencies(app_tests velindra velindra_setup)
    add_test(NAME windows_app COMMAND app_tests)
    set_tests_properties(windows_app PROPERTIES TIMEOUT 400)
endif()

if(NOT CMAKE_CROSSCOMPILING)
    add_test(NAME windows_cli COMMAND cli_tests)  # under the machine's own code page
    return()
endif()

# The command line as a Chinese and as a Western European user runs it. Wine takes the ANSI
# code page from the Unix locale, which is compiled here for the purpose.
set(locales ${CMAKE_CURRENT_BINARY_DIR}/locales)
file(MAKE_DIRECTORY ${locales})
foreach(entry "zh_CN.UTF-8:zh_CN:936" "fr_FR.UTF-8:fr_FR:1252")
    string(REPLACE ":" ";" parts ${entry})
    list(GET parts 0 locale)
    list(GET parts 1 source)
    list(GET parts 2 codepage)
    if(NOT EXISTS ${locales}/${locale}/LC_CTYPE)
        execute_process(COMMAND localedef -i ${source} -f UTF-8 ${locales}/${locale}
                        OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT EXISTS ${locales}/${locale}/LC_CTYPE)
        # Without it wine would still report the code page but spell Unix names in ASCII.
        message(FATAL_ERROR "localedef could not make the ${locale} locale")
    endif()
    add_test(NAME windows_cli_cp${codepage} COMMAND cli_tests)
    set_tests_properties(windows_cli_cp${codepage} PROPERTIES ENVIRONMENT
        "LOCPATH=${locales};LC_ALL=${locale};LANG=${locale};VELINDRA_EXPECT_ACP=${codepage}")
endforeach()
