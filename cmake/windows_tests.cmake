# How CTest runs the Windows test programs of the Windows build: under Wine, through the emulator
# scripts/wine-emulator.sh, in one Wine prefix inside the build tree that every run of ctest makes afresh
# (the test wine.prefix.make) and removes at its end (wine.prefix.remove). The tests share the world of
# that prefix (its registry, devices and printers), so no two of them run at the same time.
include(GoogleTest)

# The Windows test programs, vracoins.dll and its test build all lie in this one directory, from which
# the programs load the modules.
set(VRACOINS_WINDOWS_TEST_DIRECTORY ${CMAKE_BINARY_DIR}/tests/wine)
set(VRACOINS_WINE_DIRECTORY ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-emulator.sh run ${VRACOINS_WINE_DIRECTORY})

add_test(NAME wine.prefix.make COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-emulator.sh make ${VRACOINS_WINE_DIRECTORY})
set_tests_properties(wine.prefix.make PROPERTIES FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine_prefix)
add_test(NAME wine.prefix.remove COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-emulator.sh remove ${VRACOINS_WINE_DIRECTORY})
set_tests_properties(wine.prefix.remove PROPERTIES FIXTURES_CLEANUP wine_prefix RESOURCE_LOCK wine_prefix)

# The copy of vracoins.dll that the test programs load is signed with the test certificate of
# scripts/sign.sh and its signature checked (scripts/check-signature.sh) before any of them runs, so that
# the tests run against the DLL as a driver package carries it: a second setup of the tests' fixture. The
# certificate lies in the directory of the build directories (build/signing).
get_filename_component(VRACOINS_BUILDS_DIRECTORY ${CMAKE_BINARY_DIR} DIRECTORY)
add_test(NAME module.signature COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-signature.sh --sign
                                       ${VRACOINS_WINDOWS_TEST_DIRECTORY}/vracoins.dll)
set_tests_properties(module.signature PROPERTIES FIXTURES_SETUP wine_prefix ENVIRONMENT
                     VRACOINS_BUILD_DIR=${VRACOINS_BUILDS_DIRECTORY})

# One ctest test per GoogleTest test of the program, named <prefix>.<suite>.<test>. The tests are listed at
# test time, through the emulator (the program cannot run at build time); a test that skips itself
# (GTEST_SKIP) is reported as skipped.
function(vracoins_add_windows_tests target prefix)
    gtest_discover_tests(${target} TEST_PREFIX "${prefix}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180
                         PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix TIMEOUT 600)
endfunction()
