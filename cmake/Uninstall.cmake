# `make uninstall`: removes every file the last `cmake --install` wrote (its manifest lists them,
# with the staging root when there was one), then the program's own folders once they are empty.
# Folders shared with other programs (bin, share/applications, the icon theme) stay.
# Usage: cmake -DMANIFEST=<build>/install_manifest.txt -P Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (run make install first).")
endif()
file(STRINGS "${MANIFEST}" kpv_files)
set(kpv_own_dirs "")
foreach(kpv_file IN LISTS kpv_files)
  if(IS_SYMLINK "${kpv_file}" OR EXISTS "${kpv_file}")
    file(REMOVE "${kpv_file}")
    message(STATUS "Removed ${kpv_file}")
  endif()
  # The program's resource folder and everything under it.
  if(kpv_file MATCHES "^(.*/share/kestrane-viewer)/")
    list(APPEND kpv_own_dirs "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_DUPLICATES kpv_own_dirs)
foreach(kpv_dir IN LISTS kpv_own_dirs)
  # Remove the folders that are left empty, deepest first; a file someone put there keeps its folder.
  file(GLOB_RECURSE kpv_left LIST_DIRECTORIES false "${kpv_dir}/*")
  if(NOT kpv_left)
    file(REMOVE_RECURSE "${kpv_dir}")
  endif()
endforeach()
file(REMOVE "${MANIFEST}")
