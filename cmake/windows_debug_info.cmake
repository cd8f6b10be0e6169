# Debug information of the Windows build's DLLs: CodeView in a PDB beside each (the tool chain file), and no
# DWARF in the DLL itself. MinGW's prebuilt run-time objects bring DWARF along; left in, it would make the
# DLL three times the size for nothing that Windows' dbghelp reads. llvm-objcopy --strip-debug removes the
# .debug_* sections and keeps the debug directory that names the PDB. (GNU strip would also mark the image
# IMAGE_FILE_DEBUG_STRIPPED, after which dbghelp ignores the PDB.)
function(vracoins_strip_dwarf target)
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${VRACOINS_OBJCOPY} --strip-debug $<TARGET_FILE:${target}>
                       COMMENT "Removing the DWARF of the run-time objects from $<TARGET_FILE_NAME:${target}>")
endfunction()
