# MarkupToHtml against the direct transcription kept in the tests, on a bracket-heavy content.
add_executable(markup_bench ${CMAKE_CURRENT_LIST_DIR}/markup_bench.cpp
                            ${PROJECT_SOURCE_DIR}/tests/text/reference_markup.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/markup_generator.cpp)
target_include_directories(markup_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/text)
target_link_libraries(markup_bench PRIVATE tessaly_text benchmark::benchmark_main)
