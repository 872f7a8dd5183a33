# The vardeck program: the application object, the main window and all resources.
add_library(vdstartup STATIC command_line.cpp cert_manager_app.cpp)
target_link_libraries(vdstartup PUBLIC vdappcore vdui)

# The resource compiler reports no dependencies: rebuild the resources when anything under res/ changes.
file(GLOB_RECURSE _vd_res_inputs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
list(FILTER _vd_res_inputs EXCLUDE REGEX "\\.py$")
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/vardeck.rc PROPERTIES OBJECT_DEPENDS "${_vd_res_inputs}")

add_executable(vardeck WIN32 main.cpp ${CMAKE_SOURCE_DIR}/res/vardeck.rc)
target_link_libraries(vardeck PRIVATE vdstartup)
target_link_options(vardeck PRIVATE -municode)
target_include_directories(vardeck PRIVATE ${CMAKE_SOURCE_DIR}/res)
