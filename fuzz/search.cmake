# The recorder log of the player's search.
velmor_fuzzer(fuzz_log FuzzLog.cpp ${CMAKE_SOURCE_DIR}/player/search/RecorderLog.cpp
              ${CMAKE_SOURCE_DIR}/player/search/SearchTrace.cpp)
target_link_libraries(fuzz_log PRIVATE velmor_common)

add_executable(make_log_seeds MakeLogSeeds.cpp)
target_link_libraries(make_log_seeds PRIVATE velmor_fixtures velmor_search)

# The event file of the record search.
velmor_fuzzer(fuzz_event_file FuzzEventFile.cpp)
target_link_libraries(fuzz_event_file PRIVATE velmor_search)

add_executable(make_event_file_seeds MakeEventFileSeeds.cpp)
target_include_directories(make_event_file_seeds PRIVATE ${CMAKE_SOURCE_DIR})
