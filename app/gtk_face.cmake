# The GTK window face: target rez_gtk_face, a static library that the program
# links when GTK 3 is present (app/CMakeLists.txt includes this file). The
# window's layout, its CSS and its banner are compiled into the library as a
# GResource; the banner is drawn by the build (rez_draw_banner).
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(REZ_GTK3 QUIET IMPORTED_TARGET gtk+-3.0)
endif()
find_program(REZ_GLIB_COMPILE_RESOURCES glib-compile-resources)
if(NOT REZ_GTK3_FOUND OR NOT REZ_GLIB_COMPILE_RESOURCES)
  message(STATUS "GTK 3 not found: the program is built without its window")
  return()
endif()

set(REZ_WINDOW_RESOURCES_DIR ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set(REZ_WINDOW_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources)
file(MAKE_DIRECTORY ${REZ_WINDOW_GENERATED_DIR})

# The banner, drawn with cairo and pango (both come with GTK).
add_executable(rez_draw_banner ${REZ_WINDOW_RESOURCES_DIR}/draw_banner.cc)
target_link_libraries(rez_draw_banner PRIVATE PkgConfig::REZ_GTK3)
# A build-time tool: never instrumented, so the sanitizer builds do not stop
# on what fontconfig and pango do inside (their caches, their own threads).
set_target_properties(rez_draw_banner PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${REZ_WINDOW_GENERATED_DIR}
  COMPILE_OPTIONS ""
  LINK_OPTIONS "")
rez_warnings(rez_draw_banner)
add_custom_command(
  OUTPUT ${REZ_WINDOW_GENERATED_DIR}/banner.png
  COMMAND rez_draw_banner ${REZ_WINDOW_GENERATED_DIR}/banner.png
  DEPENDS rez_draw_banner
  COMMENT "Drawing the window's banner"
  VERBATIM)

set(REZ_WINDOW_RESOURCE_FILES
  ${REZ_WINDOW_RESOURCES_DIR}/main_window.ui
  ${REZ_WINDOW_RESOURCES_DIR}/layout.css
  ${REZ_WINDOW_RESOURCES_DIR}/theme-blue.css
  ${REZ_WINDOW_GENERATED_DIR}/banner.png)
add_custom_command(
  OUTPUT ${REZ_WINDOW_GENERATED_DIR}/window_resources.c
  COMMAND ${REZ_GLIB_COMPILE_RESOURCES}
    --sourcedir=${REZ_WINDOW_GENERATED_DIR} --sourcedir=${REZ_WINDOW_RESOURCES_DIR}
    --target=${REZ_WINDOW_GENERATED_DIR}/window_resources.c
    --generate-source --manual-register --c-name rez_window
    ${REZ_WINDOW_RESOURCES_DIR}/window.gresource.xml
  DEPENDS ${REZ_WINDOW_RESOURCES_DIR}/window.gresource.xml ${REZ_WINDOW_RESOURCE_FILES}
  COMMENT "Compiling the window's resources"
  VERBATIM)

add_library(rez_gtk_face STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/gtk_face.cc
  ${REZ_WINDOW_GENERATED_DIR}/window_resources.c)
# The face calls the main window's logic (rez_app) and the platform hooks.
target_link_libraries(rez_gtk_face PUBLIC PkgConfig::REZ_GTK3 rez_platform)
if(TARGET rez_app)
  target_link_libraries(rez_gtk_face PUBLIC rez_app)
endif()
rez_warnings(rez_gtk_face)

# The window tests (Xvfb).
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/window ${CMAKE_BINARY_DIR}/tests/window)
