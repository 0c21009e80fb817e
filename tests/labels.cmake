# Run by ctest after test discovery: tests in suites named "...Threads" also get the label concurrency,
# and so does the fault matrix (four threads per fault).
foreach(group fault db integration unit)
  foreach(test IN LISTS hcs_${group}_tests)
    if(group STREQUAL "fault" OR test MATCHES "Threads[./]")
      set_tests_properties("${test}" PROPERTIES LABELS "${group};concurrency")
    endif()
  endforeach()
endforeach()
