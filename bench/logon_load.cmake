# A load client that loops on logons from chosen loopback addresses (wrk cannot choose one).
add_executable(logon_load ${CMAKE_CURRENT_LIST_DIR}/logon_load.cpp)
target_include_directories(logon_load PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(logon_load PRIVATE Threads::Threads)
