# The key-frame size search of the media engine, compiled straight into the
# fuzzer like the container reader's sources.
velmor_fuzzer(fuzz_sps FuzzSps.cpp ${CMAKE_SOURCE_DIR}/media/src/SpsParser.cpp)

add_executable(make_sps_seeds MakeSpsSeeds.cpp)
target_link_libraries(make_sps_seeds PRIVATE velmor_fixtures)

# Corrupt access units through a windowless player's decode entry.
velmor_fuzzer(fuzz_decode FuzzDecode.cpp)
target_link_libraries(fuzz_decode PRIVATE rkmedia PkgConfig::FFMPEG)
target_include_directories(fuzz_decode PRIVATE ${CMAKE_SOURCE_DIR})
add_executable(make_decode_seeds MakeDecodeSeeds.cpp)
target_link_libraries(make_decode_seeds PRIVATE velmor_fixtures)
