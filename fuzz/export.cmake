# The export report's reader: the text a verifier is handed.
velmor_fuzzer(fuzz_report FuzzReport.cpp)
target_link_libraries(fuzz_report PRIVATE velmor_export)

add_executable(make_report_seeds MakeReportSeeds.cpp)
target_link_libraries(make_report_seeds PRIVATE velmor_export)
