# Run by `cmake --install` before any file is installed: lists the folders of the install that do
# not exist yet, each with the folders above it up to the prefix, in KPV_NEW_FOLDERS_FILE (paths
# without the staging root, as the install's list of files has them). Set by the caller:
# KPV_ICONS_DIR (the icon theme as built), KPV_ICONS_DESTINATION (where it goes) and
# KPV_INSTALL_FOLDERS (the other folders), both relative to the prefix, and KPV_NEW_FOLDERS_FILE.
set(kpv_prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/+$" "" kpv_prefix "${kpv_prefix}")
set(kpv_folders ${KPV_INSTALL_FOLDERS} "${KPV_ICONS_DESTINATION}")
file(GLOB_RECURSE kpv_icon_folders LIST_DIRECTORIES true RELATIVE "${KPV_ICONS_DIR}" "${KPV_ICONS_DIR}/*")
foreach(kpv_icon_folder IN LISTS kpv_icon_folders)
  if(IS_DIRECTORY "${KPV_ICONS_DIR}/${kpv_icon_folder}")
    list(APPEND kpv_folders "${KPV_ICONS_DESTINATION}/${kpv_icon_folder}")
  endif()
endforeach()
set(kpv_new "")
foreach(kpv_folder IN LISTS kpv_folders)
  set(kpv_path "${kpv_prefix}/${kpv_folder}")
  # The folder and those above it, up to the prefix itself.
  while(NOT kpv_path STREQUAL "" AND NOT kpv_path STREQUAL "/")
    if(NOT IS_DIRECTORY "$ENV{DESTDIR}${kpv_path}")
      list(APPEND kpv_new "${kpv_path}")
    endif()
    if(kpv_path STREQUAL kpv_prefix)
      break()
    endif()
    get_filename_component(kpv_path "${kpv_path}" DIRECTORY)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES kpv_new)
list(JOIN kpv_new "\n" kpv_lines)
file(WRITE "${KPV_NEW_FOLDERS_FILE}" "${kpv_lines}\n")
