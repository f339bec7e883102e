# The dialogs of the geometry and tone steps (rotation, trimming, margins,
# colour correction, tone curve, grayscale): their rules without a window in
# a library of their own, tested without Qt.
add_library(tessivo_geotone_dialog_rules STATIC
  dialogs/SizeFieldRules.cpp
  dialogs/CurveEditRules.cpp
  dialogs/ToneFormRules.cpp
)
target_link_libraries(tessivo_geotone_dialog_rules PUBLIC tessivo_effects)

tessivo_add_test(geotone_dialog_rules_tests
  SOURCES tests/GeometryToneDialogRulesTest.cpp
  LIBS tessivo_geotone_dialog_rules)

# The dialogs themselves join the window library, whose every object file
# is linked, so each dialog's registration runs at start-up.
target_sources(tessivo_window PRIVATE
  dialogs/DialogWidgets.cpp
  dialogs/CurveGrid.cpp
  dialogs/ToneCurveOptionForm.cpp
  dialogs/ColorCorrectionForm.cpp
  dialogs/GrayscaleForm.cpp
  dialogs/SyncPreview.cpp
  dialogs/RotationForm.cpp
  dialogs/TrimmingOptionForm.cpp
  dialogs/AddBlankForm.cpp
)
target_link_libraries(tessivo_window PUBLIC tessivo_geotone_dialog_rules)

# The dialogs on the offscreen platform over a list with one picture.
tessivo_add_test(geotone_dialog_tests
  SOURCES tests/GeometryToneDialogTest.cpp
  LIBS tessivo_window Qt6::Test)
if(TARGET geotone_dialog_tests)
  add_dependencies(geotone_dialog_tests pixio resize)
endif()

# Pictures of these dialogs over a photograph, for people (run on a display).
if(TESSIVO_BUILD_TESTS)
  add_executable(geotone-shots tests/GeometryToneShots.cpp)
  target_link_libraries(geotone-shots PRIVATE tessivo_window)
  target_compile_definitions(geotone-shots PRIVATE TESSIVO_BIN_DIR="${TESSIVO_BIN_DIR}")
  set_target_properties(geotone-shots PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(geotone-shots pixio resize)
endif()
