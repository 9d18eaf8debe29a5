# The field guide: docs/guide/kavri-zelvo-guide.md, with pictures of the stage
# and the classic faceplate rendered by the built program's own --snapshot
# (offscreen, in a throwaway home), made into an A4 PDF by tools/guide on Qt's
# text document and PDF writer. The PDF lands in <build>/share/kavri-zelvo,
# where the program run from the build tree looks for it, and installs into
# share/kavri-zelvo.
#
# Cheap on purpose: the pictures are rendered once per build tree (delete
# <build>/guide to render them again), and the PDF is made again only when the
# text or the tool changes; the tests that read it depend on it.
if(NOT TARGET kavri-zelvo)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Gui)

add_library(KavriZelvoGuideBook STATIC
  ${CMAKE_CURRENT_LIST_DIR}/../tools/guide/GuideBook.cpp ${CMAKE_CURRENT_LIST_DIR}/../tools/guide/GuideBook.h)
zelvo_warnings(KavriZelvoGuideBook)
target_include_directories(KavriZelvoGuideBook PUBLIC ${CMAKE_CURRENT_LIST_DIR}/../tools/guide)
target_link_libraries(KavriZelvoGuideBook PUBLIC Qt6::Gui)

add_executable(kavri-zelvo-guide ${CMAKE_CURRENT_LIST_DIR}/../tools/guide/main.cpp)
zelvo_warnings(kavri-zelvo-guide)
target_link_libraries(kavri-zelvo-guide PRIVATE KavriZelvoGuideBook)

set(ZELVO_GUIDE_SOURCE ${CMAKE_SOURCE_DIR}/docs/guide/kavri-zelvo-guide.md)
set(ZELVO_GUIDE_WORK ${CMAKE_BINARY_DIR}/guide)
set(ZELVO_GUIDE_PDF ${CMAKE_BINARY_DIR}/share/kavri-zelvo/kavri-zelvo-guide.pdf)
set(ZELVO_GUIDE_REPORT ${ZELVO_GUIDE_WORK}/guide-report.json)

# The program in a fresh home of its own: no library, no key, no model, the
# content service and the model server on a closed loopback port, no display.
set(home ${ZELVO_GUIDE_WORK}/home)
set(snapshot_env
  --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=KAVRI_VIRTUAL_MIDI --unset=KAVRI_FREEZE
  QT_QPA_PLATFORM=offscreen HOME=${home} XDG_CONFIG_HOME=${home}/.config XDG_DATA_HOME=${home}/.local/share
  XDG_STATE_HOME=${home}/.local/state XDG_CACHE_HOME=${home}/.cache XDG_MUSIC_DIR=${home}/Music
  KAVRI_BRAIN_HOME=${home}/brain KAVRI_BRAIN_PORT=9 KAVRI_CDN=http://127.0.0.1:9/
  # A sanitized build makes the pictures too; leak checks belong to the tests.
  ASAN_OPTIONS=detect_leaks=0)
add_custom_command(
  OUTPUT ${ZELVO_GUIDE_WORK}/stage.png ${ZELVO_GUIDE_WORK}/faceplate.png
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${home}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${home}
  COMMAND ${CMAKE_COMMAND} -E env ${snapshot_env}
    $<TARGET_FILE:kavri-zelvo> --no-tour --snapshot-delay 1.5 --snapshot ${ZELVO_GUIDE_WORK}/stage.png
  COMMAND ${CMAKE_COMMAND} -E env ${snapshot_env}
    $<TARGET_FILE:kavri-zelvo> --no-tour --classic --snapshot-delay 1.5 --snapshot ${ZELVO_GUIDE_WORK}/faceplate.png
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${home}
  COMMENT "Rendering the stage and the faceplate for the field guide"
  VERBATIM)
add_custom_command(
  OUTPUT ${ZELVO_GUIDE_PDF} ${ZELVO_GUIDE_REPORT}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
    $<TARGET_FILE:kavri-zelvo-guide> ${ZELVO_GUIDE_SOURCE} ${ZELVO_GUIDE_WORK} ${ZELVO_GUIDE_PDF} ${ZELVO_GUIDE_REPORT}
  DEPENDS ${ZELVO_GUIDE_SOURCE} ${ZELVO_GUIDE_WORK}/stage.png ${ZELVO_GUIDE_WORK}/faceplate.png kavri-zelvo-guide
  COMMENT "Making the field guide"
  VERBATIM)
add_custom_target(kavri-zelvo-guide-pdf ALL DEPENDS ${ZELVO_GUIDE_PDF} ${ZELVO_GUIDE_REPORT})
# The pictures need the program; a rebuilt program does not render them again.
add_dependencies(kavri-zelvo-guide-pdf kavri-zelvo)

install(FILES ${ZELVO_GUIDE_PDF} DESTINATION share/kavri-zelvo COMPONENT guide)
