#Log Save : the file writer and its Save As dialog.Included from this
#folder's CMakeLists.txt.
add_library(parvelo_logfile STATIC ${CMAKE_CURRENT_LIST_DIR} / LogFile.cpp)
    target_link_libraries(parvelo_logfile PUBLIC parvelo_forms_common)
