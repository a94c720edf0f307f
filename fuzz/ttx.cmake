# The grec reader of the plugin, fed from memory; its seeds are made by the
# grec writer of the test fixtures.
velmor_fuzzer(fuzz_grec FuzzGrec.cpp)
target_link_libraries(fuzz_grec PRIVATE avfile_ttx_core)

add_executable(make_grec_seeds MakeGrecSeeds.cpp)
target_link_libraries(make_grec_seeds PRIVATE velmor_fixtures)
