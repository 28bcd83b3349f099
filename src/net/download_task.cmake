# The download trace and the download state machine (no Windows header; built
# and tested in both configurations).
add_library(net_task STATIC download_trace.cpp trace_buffer.cpp download_task.cpp)
target_link_libraries(net_task PUBLIC sys_diag)
zetora_export_includes(net net_task)
zetora_add_gtest(net_task_test SOURCES download_trace_test.cpp download_task_test.cpp LIBS net_task)

if(ZETORA_WINDOWS)
  # The download call and its control block over WinINet and the file manager.
  add_library(net_download STATIC download_control.cpp download_to_file_win.cpp)
  target_link_libraries(net_download PUBLIC net_task net_win delay_wininet advapi32)
endif()

if(ZETORA_WINDOWS)
  add_library(net_test_httpd STATIC testing/httpd_client_win.cpp testing/download_runner_win.cpp)
  target_link_libraries(net_test_httpd PUBLIC net_download sys_test_win wininet)
  set(download_server python3 ${CMAKE_SOURCE_DIR}/tools/testhttpd.py --alt-host 127.0.0.2)
  zetora_add_gtest(net_download_test WIN32_ONLY
    SOURCES download_to_file_test.cpp
    LIBS net_download net_test_httpd
    TIMEOUT 240
    SERVER ${download_server})
  zetora_add_gtest(net_resume_test WIN32_ONLY
    SOURCES download_resume_test.cpp
    LIBS net_download net_test_httpd
    TIMEOUT 120
    SERVER ${download_server})
endif()

if(ZETORA_WINDOWS)
  # make bench: one download per run, timed by tools/bench.sh.
  add_executable(download_bench bench/download_bench.cpp)
  target_link_libraries(download_bench PRIVATE net_download net_test_httpd)
  target_link_options(download_bench PRIVATE -municode)
  set_target_properties(download_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  # The single-request WinINet download the benchmark compares against.
  add_executable(wininet_baseline bench/wininet_baseline.cpp)
  target_link_libraries(wininet_baseline PRIVATE sys_diag wininet)
  target_link_options(wininet_baseline PRIVATE -municode)
  set_target_properties(wininet_baseline PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
