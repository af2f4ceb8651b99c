# `make install`, once the files are in place: keeps the list of what this install wrote, with the
# staging root it went under, for `make uninstall`. The build's own manifest is not enough: every
# later install of the build tree writes it anew, the package's too (to its own staging root,
# under /usr), and a staged install's list names the files without their root.
# Usage: [DESTDIR=<root>] cmake -DMANIFEST=<build>/install_manifest.txt -DRECORD=<file> -P RecordInstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "The install wrote no list of its files: ${MANIFEST} does not exist.")
endif()
set(kpv_root "$ENV{DESTDIR}")
if(NOT kpv_root STREQUAL "")
  get_filename_component(kpv_root "${kpv_root}" ABSOLUTE)
endif()
file(READ "${MANIFEST}" kpv_files)
file(WRITE "${RECORD}.new" "root=${kpv_root}\n${kpv_files}\n")
file(RENAME "${RECORD}.new" "${RECORD}")
