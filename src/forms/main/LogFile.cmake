add_library(parvelo_logfile STATIC ${CMAKE_CURRENT_LIST_DIR}/LogFile.cpp)
target_link_libraries(parvelo_logfile PUBLIC parvelo_forms_common)
