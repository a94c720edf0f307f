# Backup record files and block-bunch listing of the file-system library.
set(VELMOR_STORE_READER_SOURCES
  ${CMAKE_SOURCE_DIR}/store/src/BakRecFile.cpp
  ${CMAKE_SOURCE_DIR}/store/src/BlkBunchRecFile.cpp
  ${CMAKE_SOURCE_DIR}/store/src/Diagnostics.cpp
  ${CMAKE_SOURCE_DIR}/store/src/HeadSet.cpp
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

# The file-system library on a mounted partition: index block heads, head
# sets and chain walks in memory, and whole partitions through the library.
set(VELMOR_STORE_SOURCES
  ${VELMOR_STORE_READER_SOURCES}
  ${CMAKE_SOURCE_DIR}/store/src/CmFile.cpp
  ${CMAKE_SOURCE_DIR}/store/src/Geometry.cpp
  ${CMAKE_SOURCE_DIR}/store/src/Mount.cpp
  ${CMAKE_SOURCE_DIR}/store/src/MountDiagnostics.cpp
  ${CMAKE_SOURCE_DIR}/store/src/RecFile.cpp
  ${CMAKE_SOURCE_DIR}/store/src/Search.cpp
  ${CMAKE_SOURCE_DIR}/store/src/Writing.cpp)
find_package(Threads REQUIRED)

velmor_fuzzer(fuzz_store_head_set FuzzStoreHeadSet.cpp ${CMAKE_SOURCE_DIR}/store/src/HeadSet.cpp)
target_include_directories(fuzz_store_head_set PRIVATE ${CMAKE_SOURCE_DIR}/store/include)
target_link_libraries(fuzz_store_head_set PRIVATE rkformat velmor_common)

velmor_fuzzer(fuzz_store_mount FuzzStoreMount.cpp ${VELMOR_STORE_SOURCES})
target_include_directories(fuzz_store_mount PRIVATE ${CMAKE_SOURCE_DIR}/store/include)
target_link_libraries(fuzz_store_mount PRIVATE rkformat velmor_common Threads::Threads)

add_executable(make_store_mount_seeds MakeStoreMountSeeds.cpp)
target_link_libraries(make_store_mount_seeds PRIVATE velmor_fixtures)
# fuzz.sh runs make_NAME_seeds DIR: the head-set seeds come from the same program.
add_executable(make_store_head_set_seeds MakeStoreMountSeeds.cpp)
target_compile_definitions(make_store_head_set_seeds PRIVATE VELMOR_HEAD_SET_SEEDS=1)
target_link_libraries(make_store_head_set_seeds PRIVATE velmor_fixtures)
