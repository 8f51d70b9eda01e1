# The measuring parts of the benchmarks (stamps, sequence gaps, CPU clocks, the fake
# stream link, the tpcsim process), one library for the benchmarks and their test.
if(NOT TARGET vt_bench_probes)
  add_library(vt_bench_probes STATIC
    ${PROJECT_SOURCE_DIR}/bench/e2e/CpuClock.cpp
    ${PROJECT_SOURCE_DIR}/bench/e2e/ProbeDeliverer.cpp
    ${PROJECT_SOURCE_DIR}/bench/e2e/SeqProbe.cpp
    ${PROJECT_SOURCE_DIR}/bench/e2e/SimProcess.cpp
    ${PROJECT_SOURCE_DIR}/bench/micro/FakeStreamLink.cpp)
  target_include_directories(vt_bench_probes PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(vt_bench_probes PUBLIC vt_link)
  set_target_properties(vt_bench_probes PROPERTIES AUTOMOC OFF)
endif()
