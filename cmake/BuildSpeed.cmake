# How the build stays fast on a small machine (docs/architecture.md, "The build").
#
# - lld links when the toolchain has it: the sanitizer tree links some forty
#   large programs, and the default linker spends most of a clean build's tail
#   on them.
# - ccache wraps the compilers when it is installed and no launcher was chosen.
#   scripts/test and scripts/fuzz give it the checkout as base directory, so a
#   fresh clone of the same commit reuses what an earlier build compiled.
# - Each library and the test programs parse the heavy Qt, standard and
#   GoogleTest headers once per target (zelvo_precompile), and the tests reuse
#   one parse for all their programs (zelvo_precompile_reuse).

include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld ZELVO_HAVE_LLD)
if(ZELVO_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# __FILE__ (GoogleTest's failure lines) names a source relative to the
# checkout. A unity unit includes its sources by absolute path, so without
# this every clone would compile different text and miss the compiler cache.
# Debug information keeps the absolute paths.
add_compile_options(-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)

find_program(ZELVO_CCACHE ccache)
if(ZELVO_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER AND NOT DEFINED ENV{CMAKE_CXX_COMPILER_LAUNCHER})
  set(CMAKE_C_COMPILER_LAUNCHER ${ZELVO_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ZELVO_CCACHE})
endif()

# Qt's keywords (slots, signals, emit) are macros once a Qt header is in; a
# source that uses one as a plain name (a variable called `slots`) compiles
# without the precompiled headers.
function(zelvo_skip_precompile_where_qt_keywords_clash target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    if(NOT IS_ABSOLUTE ${source})
      set(source ${source_dir}/${source})
    endif()
    if(NOT EXISTS ${source})
      continue()
    endif()
    file(STRINGS ${source} clash REGEX "^[^/]*[^A-Za-z0-9_](slots|signals)[^A-Za-z0-9_:]")
    if(clash)
      set_source_files_properties(${source} TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()

# Precompiled headers for one target: only headers from outside the project,
# so editing our own headers never rebuilds them.
function(zelvo_precompile target)
  target_precompile_headers(${target} PRIVATE ${ARGN})
  zelvo_skip_precompile_where_qt_keywords_clash(${target})
endfunction()

# A whole build (scripts/test, CI) compiles the engine library (zelvo_unity)
# sixteen sources to a unit: its headers are read and its inline code generated
# once per unit rather than once per file. The application's libraries and
# the test programs are built the same way. Names local to a source file
# (anonymous namespaces, statics) must therefore be unique within a target, or
# the source is listed with zelvo_unity_alone. Off for day-to-day work, where
# one edited file recompiles alone.
option(ZELVO_UNITY "Compile libraries and test programs as unity units" OFF)
function(zelvo_unity target)
  if(ZELVO_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 16)
    # A class with a member or base from a source file's anonymous namespace
    # (a test fixture, say) is only ever defined in that one unit; the warning
    # assumes every file but the main one is a header.
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
endfunction()

# Sources of a unity-built target that repeat a file-local name of another of
# its sources (the screens' small drawing helpers and layout constants) compile
# on their own. Paths are relative to the calling folder.
function(zelvo_unity_alone target)
  foreach(source IN LISTS ARGN)
    set(path ${CMAKE_CURRENT_SOURCE_DIR}/${source})
    if(NOT EXISTS ${path})
      message(FATAL_ERROR "zelvo_unity_alone: no source ${path}")
    endif()
    set_source_files_properties(${path} TARGET_DIRECTORY ${target} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()

# Uses another target's precompiled headers (same compiler flags; differing
# definitions must not be ones those headers look at).
function(zelvo_precompile_reuse target from)
  target_precompile_headers(${target} REUSE_FROM ${from})
  zelvo_skip_precompile_where_qt_keywords_clash(${target})
endfunction()

# The headers nearly every engine and model source reads.
set(ZELVO_PRECOMPILED_CORE
  <QByteArray> <QDateTime> <QDir> <QFile> <QJsonArray> <QJsonDocument> <QJsonObject> <QObject>
  <QPointer> <QString> <QStringList> <QUrl> <QUuid>
  <algorithm> <array> <atomic> <cmath> <cstdint> <cstring> <functional> <limits> <map> <memory>
  <mutex> <optional> <string> <thread> <vector>)
# ... and those of the widget libraries on top.
set(ZELVO_PRECOMPILED_WIDGETS ${ZELVO_PRECOMPILED_CORE}
  <QApplication> <QColor> <QFontMetricsF> <QHBoxLayout> <QImage> <QLabel> <QLineEdit> <QMouseEvent>
  <QPainter> <QPainterPath> <QRectF> <QVBoxLayout> <QWidget>)
