# `make install`, once the files are in place: keeps the list of what this install wrote, with the
# staging root it went under, for `make uninstall`. The build's own manifest is not enough: every
# later install of the build tree writes it anew, the package's too (to its own staging root,
# under /usr), and a staged install's list names the files without their root.
# The folders the install made (InstallNewFolders.cmake listed them) follow as "folder=" lines.
# Usage: [DESTDIR=<root>] cmake -DMANIFEST=<build>/install_manifest.txt [-DNEW_FOLDERS=<list>]
#        -DRECORD=<file> -P RecordInstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "The install wrote no list of its files: ${MANIFEST} does not exist.")
endif()
set(kpv_root "$ENV{DESTDIR}")
if(NOT kpv_root STREQUAL "")
  get_filename_component(kpv_root "${kpv_root}" ABSOLUTE)
endif()
file(READ "${MANIFEST}" kpv_files)
set(kpv_folders "")
if(NEW_FOLDERS AND EXISTS "${NEW_FOLDERS}")
  file(STRINGS "${NEW_FOLDERS}" kpv_new_folders)
  foreach(kpv_folder IN LISTS kpv_new_folders)
    if(NOT kpv_folder STREQUAL "")
      string(APPEND kpv_folders "folder=${kpv_folder}\n")
    endif()
  endforeach()
endif()
file(WRITE "${RECORD}.new" "root=${kpv_root}\n${kpv_files}\n${kpv_folders}")
file(RENAME "${RECORD}.new" "${RECORD}")
