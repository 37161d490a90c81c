# What counting a request for the metrics costs on the hot path, on one thread and on two that
# count into the same series at once.
add_executable(metrics_bench ${CMAKE_CURRENT_LIST_DIR}/metrics_bench.cpp)
target_link_libraries(metrics_bench PRIVATE tessaly_server benchmark::benchmark_main)
