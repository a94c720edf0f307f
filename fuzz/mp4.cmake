# The MP4 writer and the AAC and PCM converters, with the engine's sound side
# for the voice decoding they use.
velmor_fuzzer(fuzz_mp4_writer FuzzMp4Writer.cpp)
target_link_libraries(fuzz_mp4_writer PRIVATE rkmedia_mp4 rkmedia_audio rkmedia_video)

add_executable(make_mp4_writer_seeds MakeMp4Seeds.cpp)
target_link_libraries(make_mp4_writer_seeds PRIVATE velmor_fixtures rkmedia)
