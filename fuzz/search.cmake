# The recorder log of the player's search.
velmor_fuzzer(fuzz_log FuzzLog.cpp ${CMAKE_SOURCE_DIR}/player/search/RecorderLog.cpp)
target_link_libraries(fuzz_log PRIVATE velmor_common)

add_executable(make_log_seeds MakeLogSeeds.cpp)
target_link_libraries(make_log_seeds PRIVATE velmor_fixtures velmor_search)
