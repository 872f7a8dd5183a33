# The expiry warning looks its texts up and translates its dialog.
target_link_libraries(vdtoken PUBLIC vdlang)
