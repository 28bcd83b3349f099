# The download trace and the download state machine (no Windows header; built
# and tested in both configurations).
add_library(net_task STATIC download_trace.cpp trace_buffer.cpp download_task.cpp)
target_link_libraries(net_task PUBLIC sys_diag)
zetora_add_gtest(net_task_test SOURCES download_trace_test.cpp download_task_test.cpp LIBS net_task)
