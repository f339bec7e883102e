# Exif reading and writing, JPEG segments and quantisation tables (part of tessivo_io).
find_package(JPEG REQUIRED)
target_sources(tessivo_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ExifReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExifWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExifJpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegSegment.cpp
)
target_link_libraries(tessivo_io PUBLIC tessivo_color tessivo_resample JPEG::JPEG)
# The probe parse plugs into the header probes' hook, which lives with them.
get_target_property(_io_sources tessivo_io SOURCES)
if(NOT _io_sources MATCHES "Probe\\.cpp" AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/Probe.cpp)
  target_sources(tessivo_io PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Probe.cpp)
endif()
if(TESSIVO_FUZZ)
  target_compile_options(tessivo_io PRIVATE -fsanitize=fuzzer-no-link)
endif()

# exiftool checks the blocks we write from the outside; the tests skip without it.
find_program(TESSIVO_EXIFTOOL exiftool)
tessivo_add_test(exif_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/ExifTestUtil.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tests/ExifReaderTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tests/ExifWriterTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tests/JpegSegmentTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tests/ExiftoolTest.cpp
  LIBS tessivo_io)
if(TARGET exif_tests)
  target_compile_definitions(exif_tests PRIVATE TESSIVO_EXIFTOOL="${TESSIVO_EXIFTOOL}")
  # create_exif is checked through bin/libpixio.so; pixio joins the build after io,
  # so the dependency is named without testing for the target.
  add_dependencies(exif_tests pixio)
endif()

# libFuzzer target over the probe parse, the save-time patch and the rebuild;
# clang only (TESSIVO_FUZZ, top-level CMakeLists.txt), never part of the normal build.
if(TESSIVO_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(exif_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz/ExifFuzz.cpp)
  target_link_libraries(exif_fuzz PRIVATE tessivo_io)
  target_compile_options(exif_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(exif_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
