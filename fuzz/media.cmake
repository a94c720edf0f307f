# The key-frame size search of the media engine, compiled straight into the
# fuzzer like the container reader's sources.
velmor_fuzzer(fuzz_sps FuzzSps.cpp ${CMAKE_SOURCE_DIR}/media/src/SpsParser.cpp)

add_executable(make_sps_seeds MakeSpsSeeds.cpp)
target_link_libraries(make_sps_seeds PRIVATE velmor_fixtures)
