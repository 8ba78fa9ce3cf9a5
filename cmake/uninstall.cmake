# SPDX-License-Identifier: Apache-2.0
# Removes the files the last `cmake --install` from this build tree put in
# place, as its record lists them (RECORD, written by install_record.cmake),
# DESTDIR included: a staged install is removed from its staging root with or
# without DESTDIR (sudo drops it), and never the system's files of the same
# names.  Every install from the build tree replaces the record, so one build
# tree serves one install tree.  Without a record (an install made before
# there was one) CMake's MANIFEST is used, which leaves DESTDIR out: a staged
# install is then removed with the same DESTDIR set.
set(_destdir "$ENV{DESTDIR}")
string(REGEX REPLACE "/+$" "" _destdir "${_destdir}")
if(EXISTS "${RECORD}")
  file(STRINGS "${RECORD}" _lines)
  set(_files "")
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^# DESTDIR=(.*)$")
      set(_recorded_destdir "${CMAKE_MATCH_1}")
    elseif(_line MATCHES "^# prefix=(.*)$")
      set(_recorded_prefix "${CMAKE_MATCH_1}")
    elseif(NOT _line MATCHES "^#")
      list(APPEND _files "${_line}")
    endif()
  endforeach()
  if(NOT _destdir STREQUAL "" AND NOT _destdir STREQUAL _recorded_destdir)
    message(FATAL_ERROR "The last install from this build tree went to ${_recorded_destdir}${_recorded_prefix}, "
                        "not under DESTDIR=${_destdir}: nothing was removed")
  endif()
  message(STATUS "Removing the install in ${_recorded_destdir}${_recorded_prefix}")
elseif(EXISTS "${MANIFEST}")
  file(STRINGS "${MANIFEST}" _files)
  list(TRANSFORM _files PREPEND "${_destdir}")
else()
  message(FATAL_ERROR "Nothing to uninstall: ${RECORD} does not exist (run the install first)")
endif()
foreach(_file IN LISTS _files)
  if(EXISTS "${_file}" OR IS_SYMLINK "${_file}")
    message(STATUS "Removing ${_file}")
    file(REMOVE "${_file}")
    if(EXISTS "${_file}")
      message(FATAL_ERROR "Could not remove ${_file}")
    endif()
    # The PPD's directory is ours alone; other directories are shared.
    cmake_path(GET _file PARENT_PATH _dir)
    cmake_path(GET _dir FILENAME _dirname)
    if(_dirname STREQUAL "pdftopjl")
      file(GLOB _left "${_dir}/*")
      if(NOT _left)
        file(REMOVE_RECURSE "${_dir}")
      endif()
    endif()
  else()
    message(STATUS "Already gone: ${_file}")
  endif()
endforeach()
