# The real tar.exe for the tests under Wine, which has none of its own: bsdtar, what Windows 10
# and 11 ship as System32\tar.exe, built from Debian's libarchive source once per build tree
# (a few minutes; the script does nothing while its exe is current).
set(MOSSHARBOR_BSDTAR_EXE ${CMAKE_BINARY_DIR}/bsdtar/bsdtar.exe)
include_guard(GLOBAL)

add_custom_command(OUTPUT ${MOSSHARBOR_BSDTAR_EXE}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/build-bsdtar.sh ${CMAKE_BINARY_DIR}/bsdtar
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/../scripts/build-bsdtar.sh
    COMMENT "Building tar.exe (bsdtar) from Debian's libarchive source"
    USES_TERMINAL)
add_custom_target(bsdtar DEPENDS ${MOSSHARBOR_BSDTAR_EXE})
