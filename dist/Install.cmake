# Installing Zumble as a desktop application, and its Debian package.
# Included from the top-level CMakeLists.txt (CPack wants the top level).

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(_src "${CMAKE_CURRENT_LIST_DIR}")
set(_dist "${CMAKE_BINARY_DIR}/dist")

set(ZUMBLE_APP_ID "org.zumble.zumble1")
# The project's web site is the address the homepage library hands out.
string(REGEX REPLACE "/$" "" ZUMBLE_HOMEPAGE "${KOVHPURL_HOMEPAGE_URL}")
# Debian names the documentation folder after the package.
set(ZUMBLE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/zumble")
set(ZUMBLE_INSTALL_SAMPLEDIR "${CMAKE_INSTALL_DATADIR}/zumble/samples")
# The homepage library is private to the program: it lives in a folder of its
# own and the executable finds it through its RPATH.
set(ZUMBLE_INSTALL_PRIVATELIBDIR "${CMAKE_INSTALL_LIBDIR}/zumble")

# The library is opened at run time with dlopen, called from inside Qt. The
# loader looks at the executable's DT_RPATH for such calls but never at its
# DT_RUNPATH (the linker's default), so the old tag is asked for. Installed,
# the library is in its own folder; in the build tree it sits beside the
# executable. The build tree uses the installed path as it is: a build path
# that installing rewrites ends in an empty entry, which the loader reads as
# the current folder.
file(RELATIVE_PATH _zumble_bin_to_lib "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_PREFIX}/${ZUMBLE_INSTALL_PRIVATELIBDIR}")
set_target_properties(Zumble1 PROPERTIES
  BUILD_WITH_INSTALL_RPATH TRUE
  INSTALL_RPATH "$ORIGIN/${_zumble_bin_to_lib};$ORIGIN")
target_link_options(Zumble1 PRIVATE "LINKER:--disable-new-dtags")
# Bind every symbol at start so the relocations can be made read-only.
target_link_options(Zumble1 PRIVATE "LINKER:-z,relro,-z,now")

install(TARGETS Zumble1 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS Kovhpurl LIBRARY DESTINATION ${ZUMBLE_INSTALL_PRIVATELIBDIR})

# Icons for the desktop's icon theme, drawn from the program's own icon.
set(_zumble_icons "")
foreach(size 48 128 256)
  set(icon "${_dist}/icons/${size}/${ZUMBLE_APP_ID}.png")
  add_custom_command(OUTPUT "${icon}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_dist}/icons/${size}"
    COMMAND python3 "${CMAKE_SOURCE_DIR}/assets/make_assets.py" --icon ${size} "${icon}"
    DEPENDS "${CMAKE_SOURCE_DIR}/assets/make_assets.py"
    COMMENT "Drawing the ${size} px icon" VERBATIM)
  list(APPEND _zumble_icons "${icon}")
  install(FILES "${icon}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()

# Manual page and Debian changelog, compressed as Debian wants them.
configure_file(${_src}/Zumble1.1.in ${_dist}/Zumble1.1 @ONLY)
set(_zumble_man "${_dist}/Zumble1.1.gz")
set(_zumble_changelog "${_dist}/changelog.gz")
add_custom_command(OUTPUT "${_zumble_man}"
  COMMAND gzip -9 -n -c "${_dist}/Zumble1.1" > "${_zumble_man}"
  DEPENDS "${_dist}/Zumble1.1")
add_custom_command(OUTPUT "${_zumble_changelog}"
  COMMAND gzip -9 -n -c "${_src}/changelog" > "${_zumble_changelog}"
  DEPENDS "${_src}/changelog")
add_custom_target(desktop_files ALL DEPENDS ${_zumble_icons} "${_zumble_man}" "${_zumble_changelog}")

configure_file(${_src}/${ZUMBLE_APP_ID}.metainfo.xml.in
               ${_dist}/${ZUMBLE_APP_ID}.metainfo.xml @ONLY)

install(FILES ${_src}/${ZUMBLE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_dist}/${ZUMBLE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_src}/zumble-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME zumble.xml)
install(FILES "${_zumble_man}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_src}/copyright "${_zumble_changelog}" DESTINATION ${ZUMBLE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/assets/samples/button_up.png
              ${CMAKE_SOURCE_DIR}/assets/samples/button_down.png
              ${CMAKE_SOURCE_DIR}/assets/samples/chime.wav
        DESTINATION ${ZUMBLE_INSTALL_SAMPLEDIR})

# The sample kit: the two pictures, the chime and a data file naming them by
# absolute paths, so that a newcomer sees a working button at once. It is made
# in the build tree for `make run`, and again at install time for the
# installed pictures (the paths stored are those of the final place, without
# any staging folder).
set(_kit "${CMAKE_BINARY_DIR}/samples")
set(_kit_media "")
foreach(f button_up.png button_down.png chime.wav)
  add_custom_command(OUTPUT "${_kit}/${f}"
    COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_SOURCE_DIR}/assets/samples/${f}" "${_kit}/${f}"
    DEPENDS "${CMAKE_SOURCE_DIR}/assets/samples/${f}")
  list(APPEND _kit_media "${_kit}/${f}")
endforeach()
add_custom_command(OUTPUT "${_kit}/sample.zm1"
  COMMAND zumble-make-kit "${_kit}/sample.zm1" ${_kit_media}
  DEPENDS zumble-make-kit ${_kit_media}
  COMMENT "Writing the sample kit" VERBATIM)
add_custom_target(sample_kit ALL DEPENDS "${_kit}/sample.zm1")
# The sample quiz table beside it: the same button in four colours and four
# pitches of the chime, teams bound to the keys 1 to 4.
add_custom_command(OUTPUT "${_kit}/table/quiz.zmt"
  COMMAND zumble-make-table "${_kit}/table" "${_kit}/table" ${_kit_media}
  DEPENDS zumble-make-table ${_kit_media}
  COMMENT "Writing the sample quiz table" VERBATIM)
add_custom_target(sample_table ALL DEPENDS "${_kit}/table/quiz.zmt")
install(CODE "
  set(_samples \"\${CMAKE_INSTALL_PREFIX}/${ZUMBLE_INSTALL_SAMPLEDIR}\")
  execute_process(COMMAND \"$<TARGET_FILE:zumble-make-kit>\"
      \"\$ENV{DESTDIR}\${_samples}/sample.zm1\"
      \"\${_samples}/button_up.png\" \"\${_samples}/button_down.png\" \"\${_samples}/chime.wav\"
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR \"writing the installed sample kit failed\")
  endif()
  # It reads the media where they are being installed, and names their final place.
  execute_process(COMMAND \"$<TARGET_FILE:zumble-make-table>\"
      \"\$ENV{DESTDIR}\${_samples}/table\" \"\${_samples}/table\" \"\$ENV{DESTDIR}\${_samples}/button_up.png\"
      \"\$ENV{DESTDIR}\${_samples}/button_down.png\" \"\$ENV{DESTDIR}\${_samples}/chime.wav\"
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR \"writing the installed sample table failed\")
  endif()
")

# The Debian package. The desktop, MIME and icon caches are refreshed by the
# file triggers of desktop-file-utils, shared-mime-info and the icon theme,
# so the package carries no maintainer scripts of its own (CPack adds an
# ldconfig call for the homepage library under /usr/lib).
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zumble")
set(CPACK_PACKAGE_VENDOR "The Zumble developers")
set(CPACK_PACKAGE_CONTACT "The Zumble developers <zumble@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "quiz-show answer button for the desktop")
set(CPACK_PACKAGE_DESCRIPTION
"Zumble turns a small borderless window into a quiz-show answer button. A
player clicks it or presses Enter or Space: a sound plays at once and the
button lights up, and it stays lit until the host resets it.

The pictures, sound, window size and pressable area are set in a settings
dialog and saved in .zm1 files. Start it once per team to have a button for
each. The program's texts are in Japanese.")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# Not libraries, so dpkg-shlibdeps cannot see them: the soundfont MIDI is
# played with, and the faces the program and its metafile player draw with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "timgm6mb-soundfont, fonts-ipafont-gothic, fonts-ipafont-mincho, fonts-liberation2, fonts-urw-base35, fonts-opensymbol, fonts-dejavu-core")
# Japanese buttons and labels in Qt's own dialogs; xdg-open for the homepage link.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
include(CPack)
