# SPDX-License-Identifier: Apache-2.0
# Run by `cmake --install` after every other install rule: writes
# PDFTOPJL_INSTALL_RECORD, the files this install put in place with DESTDIR
# included, for the uninstall target.  CMake's install_manifest.txt leaves
# DESTDIR out, so it cannot tell a staged copy from the system's files of the
# same names; under sudo, which drops DESTDIR, an uninstall would then remove
# the wrong tree.
set(_destdir "$ENV{DESTDIR}")
string(REGEX REPLACE "/+$" "" _destdir "${_destdir}")
set(_text "# DESTDIR=${_destdir}\n# prefix=${CMAKE_INSTALL_PREFIX}\n")
foreach(_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  string(APPEND _text "${_destdir}${_file}\n")
endforeach()
file(WRITE "${PDFTOPJL_INSTALL_RECORD}" "${_text}")
