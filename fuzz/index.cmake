# The index search of rkindex, built into the target from its sources.
velmor_fuzzer(fuzz_index FuzzIndex.cpp
  ${CMAKE_SOURCE_DIR}/index/src/IndexFile.cpp
  ${CMAKE_SOURCE_DIR}/index/src/RkIndexApi.cpp)
target_link_libraries(fuzz_index PRIVATE velmor_common)

add_executable(make_index_seeds MakeIndexSeeds.cpp)
target_link_libraries(make_index_seeds PRIVATE velmor_fixtures)
