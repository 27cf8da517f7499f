# What a batch costs before it writes anything: planning the outputs of 1,000 and 10,000 files.
add_executable(bench_workflow ${CMAKE_CURRENT_LIST_DIR}/workflow_batch_plan.cpp)
target_link_libraries(bench_workflow PRIVATE quorvane_workflow benchmark::benchmark)
