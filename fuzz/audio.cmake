# The recorder voice decoder (with the encoder and transcoder it feeds),
# compiled straight into the fuzzer.
set(VELMOR_VOICE_SOURCES
  ${CMAKE_SOURCE_DIR}/media/src/audio/VoiceCodec.cpp
  ${CMAKE_SOURCE_DIR}/media/src/audio/G726.cpp)

velmor_fuzzer(fuzz_voice FuzzVoice.cpp ${VELMOR_VOICE_SOURCES})

add_executable(make_voice_seeds MakeVoiceSeeds.cpp ${VELMOR_VOICE_SOURCES})
