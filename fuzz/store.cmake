# Backup record files and block-bunch listing of the file-system library.
set(VELMOR_STORE_READER_SOURCES
  ${CMAKE_SOURCE_DIR}/store/src/BakRecFile.cpp
  ${CMAKE_SOURCE_DIR}/store/src/BlkBunchRecFile.cpp
  ${CMAKE_SOURCE_DIR}/store/src/Diagnostics.cpp
  ${CMAKE_SOURCE_DIR}/store/src/RecFileInfo.cpp
  ${CMAKE_SOURCE_DIR}/store/src/RecordReader.cpp)

velmor_fuzzer(fuzz_bak_rec_file FuzzBakRecFile.cpp ${VELMOR_STORE_READER_SOURCES})
target_include_directories(fuzz_bak_rec_file PRIVATE ${CMAKE_SOURCE_DIR}/store/include)
target_link_libraries(fuzz_bak_rec_file PRIVATE rkformat velmor_common)

velmor_fuzzer(fuzz_blk_bunch FuzzBlkBunch.cpp FuzzContainerInput.cpp ${VELMOR_STORE_READER_SOURCES})
target_link_libraries(fuzz_blk_bunch PRIVATE rkformat velmor_common)

add_executable(make_bak_rec_file_seeds MakeBakRecFileSeeds.cpp)
target_link_libraries(make_bak_rec_file_seeds PRIVATE velmor_fixtures)
# The block-bunch target reads the same input form as the container target.
add_executable(make_blk_bunch_seeds MakeContainerSeeds.cpp FuzzContainerInput.cpp)
target_link_libraries(make_blk_bunch_seeds PRIVATE velmor_fixtures)
