# The IFV reader: fuzz target and the program that writes its seeds with the
# library's own writer. The library is built with the fuzzer's coverage
# options like everything else in this configuration, so the target links it.
velmor_fuzzer(fuzz_ifv FuzzIfv.cpp)
target_link_libraries(fuzz_ifv PRIVATE velmor_formats)

add_executable(make_ifv_seeds MakeIfvSeeds.cpp)
target_link_libraries(make_ifv_seeds PRIVATE velmor_formats)

# Ordinary media files through the frame source (the media engine demuxes).
velmor_fuzzer(fuzz_media_file FuzzMediaFile.cpp)
target_link_libraries(fuzz_media_file PRIVATE velmor_playback)

add_executable(make_media_file_seeds MakeMediaFileSeeds.cpp)
target_link_libraries(make_media_file_seeds PRIVATE velmor_fixtures rkmedia)
