# The profile file and the code-page conversion.
target_sources(korvi_platform_posix PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ansi.cpp
                                            ${CMAKE_CURRENT_LIST_DIR}/profile.cpp
                                            ${CMAKE_CURRENT_LIST_DIR}/profile_text.cpp)
