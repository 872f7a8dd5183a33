# A folder whose code several people own: every .cpp in it belongs to the folder's library, and each
# owner's extra build lines live in a <name>.cmake file beside it, included here.
macro(vd_include_parts)
  file(GLOB _vd_parts CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  foreach(_vd_part ${_vd_parts})
    include(${_vd_part})
  endforeach()
endmacro()

# vd_folder_library(NAME) — a static library of every .cpp in the current folder.
function(vd_folder_library name)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _src)
    return()  # nobody has written code here yet
  endif()
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PUBLIC UNICODE _UNICODE)
  target_link_libraries(${name} PUBLIC vdcommon)
endfunction()
