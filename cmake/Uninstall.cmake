# `make uninstall`: removes every file the last `cmake --install` wrote (its manifest lists them
# under the prefix; a staging root is given again in DESTDIR), then the program's own resource
# folder once it is empty. Folders shared with other programs (bin, share/applications, the icon
# theme) stay. Usage: [DESTDIR=<root>] cmake -DMANIFEST=<build>/install_manifest.txt -P Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (run make install first).")
endif()
file(STRINGS "${MANIFEST}" kpv_files)
set(kpv_own_dirs "")
set(kpv_root "$ENV{DESTDIR}")
foreach(kpv_listed IN LISTS kpv_files)
  set(kpv_file "${kpv_root}${kpv_listed}")
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
