# The vardeck program: the application object, the main window and all resources.
add_library(vdstartup STATIC command_line.cpp cert_manager_app.cpp)
target_link_libraries(vdstartup PUBLIC vdappcore vdui)

add_executable(vardeck WIN32 main.cpp ${CMAKE_SOURCE_DIR}/res/vardeck.rc)
target_link_libraries(vardeck PRIVATE vdstartup)
target_link_options(vardeck PRIVATE -municode)
target_include_directories(vardeck PRIVATE ${CMAKE_SOURCE_DIR}/res)
