# Image saving: the writers, the JPEG copy, thumbnails and the PNG optimiser (part of tessivo_io).
target_sources(tessivo_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SavePicture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SaveBmp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SaveJpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SavePng.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SaveTiff.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SaveHdp.cpp
)

if(TESSIVO_BUILD_TESTS)
  find_package(PNG REQUIRED)
  find_package(TIFF REQUIRED)
  tessivo_add_test(save_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/SaveTestUtil.cpp
            ${CMAKE_CURRENT_LIST_DIR}/tests/SaveTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/tests/SaveJpegTest.cpp
    LIBS tessivo_io PNG::PNG TIFF::TIFF JPEG::JPEG)
  # The savers write through bin/libpixio.so (pixio joins the build after io,
  # so it is named without testing for the target); the optimiser test uses
  # bin/pngout when it is built.
  add_dependencies(save_tests pixio)
  # bin/pngout is built by tools/, which is read after io: the dependency is
  # added once every folder has been read.
  function(tessivo_save_tests_use_pngout)
    if(TARGET pngout AND TARGET save_tests)
      add_dependencies(save_tests pngout)
    endif()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tessivo_save_tests_use_pngout)
endif()
