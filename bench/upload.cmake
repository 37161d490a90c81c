# The upload body parser on bodies from 100 KB to 10 MB.
add_executable(upload_bench ${CMAKE_CURRENT_LIST_DIR}/upload_bench.cpp
                            ${PROJECT_SOURCE_DIR}/src/images/upload_body.cpp)
target_include_directories(upload_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(upload_bench PRIVATE tessaly_base benchmark::benchmark_main)
