# One object library per layer, built from every source file in the layer's
# folder, so that adding a file never means editing a shared list. The layer
# edges are stated with target_link_libraries; the objects of all layers end
# up in one place, the module (libisodmx_filter.so), which the tool, the tests
# and other modules link, so every global exists once per loaded copy of the
# module. A layer without sources yet is an interface library, so that the layers above can
# already name it.
set(ISODMX_LAYER_OBJECTS "" CACHE INTERNAL "")

function(isodmx_layer target)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  if(sources)
    add_library(${target} OBJECT ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${L_DEPS})
    set(ISODMX_LAYER_OBJECTS ${ISODMX_LAYER_OBJECTS} ${target} CACHE INTERNAL "")
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${L_DEPS})
  endif()
endfunction()
