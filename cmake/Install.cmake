# What `make install` puts where, relative to the prefix:
#   bin/kestrane-viewer
#   share/kestrane-viewer/        the resources: information, strings, skin, slideshow themes, icon
#   share/applications/org.kestrane.viewer.desktop
#   share/icons/hicolor/<n>x<n>/apps/org.kestrane.viewer.png and scalable/apps/….svg
#   share/metainfo/org.kestrane.viewer.metainfo.xml
#   share/man/man1/kestrane-viewer.1
# The program looks for its resources in ../share/kestrane-viewer beside its own folder, so an
# installed tree runs from whatever prefix it was copied to.
include(GNUInstallDirs)

add_subdirectory(${PROJECT_SOURCE_DIR}/tools/icon ${CMAKE_BINARY_DIR}/tools/icon)
add_dependencies(kestrane-viewer kpv_app_icons)

set(KPV_APP_ID org.kestrane.viewer)
set(KPV_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kestrane-viewer)

# The MIME types the program opens, from the document types of its information file.
file(READ ${PROJECT_SOURCE_DIR}/resources/Info.json KPV_INFO_JSON)
string(JSON kpv_type_count LENGTH "${KPV_INFO_JSON}" CFBundleDocumentTypes)
set(KPV_MIME_TYPES "")
set(KPV_METAINFO_MEDIATYPES "")
math(EXPR kpv_last_type "${kpv_type_count} - 1")
foreach(i RANGE ${kpv_last_type})
  string(JSON kpv_mime_count ERROR_VARIABLE kpv_json_error LENGTH "${KPV_INFO_JSON}" CFBundleDocumentTypes ${i} CFBundleTypeMIMETypes)
  if(kpv_json_error OR kpv_mime_count EQUAL 0)
    continue()
  endif()
  math(EXPR kpv_last_mime "${kpv_mime_count} - 1")
  foreach(j RANGE ${kpv_last_mime})
    string(JSON kpv_mime GET "${KPV_INFO_JSON}" CFBundleDocumentTypes ${i} CFBundleTypeMIMETypes ${j})
    string(APPEND KPV_MIME_TYPES "${kpv_mime};")
    string(APPEND KPV_METAINFO_MEDIATYPES "    <mediatype>${kpv_mime}</mediatype>\n")
  endforeach()
endforeach()
string(REGEX REPLACE "\n$" "" KPV_METAINFO_MEDIATYPES "${KPV_METAINFO_MEDIATYPES}")

configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/${KPV_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/install/${KPV_APP_ID}.metainfo.xml @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/kestrane-viewer.1.in
               ${CMAKE_BINARY_DIR}/install/kestrane-viewer.1 @ONLY)

# Before the first file goes in: the folders this install will make, so that make uninstall
# removes them again once they are empty (and never one that was there before).
install(CODE "
  set(KPV_ICONS_DIR \"${KPV_ICONS_DIR}\")
  set(KPV_INSTALL_FOLDERS \"${CMAKE_INSTALL_BINDIR};${KPV_DATA_DIR};${CMAKE_INSTALL_DATADIR}/applications;${CMAKE_INSTALL_DATADIR}/metainfo;${CMAKE_INSTALL_MANDIR}/man1\")
  set(KPV_ICONS_DESTINATION \"${CMAKE_INSTALL_DATADIR}/icons/hicolor\")
  set(KPV_NEW_FOLDERS_FILE \"${CMAKE_BINARY_DIR}/install/new-folders.txt\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallNewFolders.cmake\")
")
install(TARGETS kestrane-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/Info.json DESTINATION ${KPV_DATA_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/strings DESTINATION ${KPV_DATA_DIR})
install(DIRECTORY ${CMAKE_BINARY_DIR}/resources/skin ${CMAKE_BINARY_DIR}/resources/SSThemes
                  ${CMAKE_BINARY_DIR}/resources/appicon
        DESTINATION ${KPV_DATA_DIR} PATTERN ".stamp" EXCLUDE)
install(DIRECTORY ${KPV_ICONS_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${CMAKE_BINARY_DIR}/install/${KPV_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/install/kestrane-viewer.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The desktop entry names the program by its installed path, which is known only when the
# prefix is (cmake --install --prefix chooses it late), so it is written at install time.
install(CODE "
  set(KPV_DESKTOP_TEMPLATE \"${PROJECT_SOURCE_DIR}/resources/desktop/${KPV_APP_ID}.desktop.in\")
  set(KPV_DESKTOP_OUTPUT \"${CMAKE_BINARY_DIR}/install/${KPV_APP_ID}.desktop\")
  set(KPV_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(KPV_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(KPV_MIME_TYPES \"${KPV_MIME_TYPES}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake\")
")
