# A load client that loops on logons from chosen loopback addresses (wrk cannot choose one).
add_executable(logon_load ${CMAKE_CURRENT_LIST_DIR}/logon_load.cpp)
target_link_libraries(logon_load PRIVATE Threads::Threads)
