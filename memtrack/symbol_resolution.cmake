# Build settings of call-site symbol resolution, included by this directory's CMakeLists.txt.

# The organisation's symbol store: the UNC share that follows "srv*c:\localsymbols*" in the symbol server
# element that the resolver appends to dbghelp's search path. The default names no real server.
set(VRACOINS_SYMBOL_STORE_SHARE "\\\\symbols.invalid\\symbols"
    CACHE STRING "UNC path of the symbol store share that the tracker appends to the symbol search path")
# As a C string literal: every backslash doubled.
string(REPLACE "\\" "\\\\" VRACOINS_SYMBOL_STORE_SHARE_LITERAL "${VRACOINS_SYMBOL_STORE_SHARE}")
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/symbols.cpp APPEND PROPERTY COMPILE_DEFINITIONS
             "VRACOINS_SYMBOL_STORE_SHARE=\"${VRACOINS_SYMBOL_STORE_SHARE_LITERAL}\"")

# The resolver's tests look up call sites in their own source, which needs debug information.
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/tests/symbol_resolver_test.cpp APPEND PROPERTY COMPILE_OPTIONS -g)
