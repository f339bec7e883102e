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
