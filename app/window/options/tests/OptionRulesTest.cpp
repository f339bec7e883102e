// The environment and resize dialogs' rules without a window: numeric
// fields, enabling, the thread choice, the template split and rebuild, the
// extension text, the profile lists and the resize dialog's lists.
#include "app/window/options/EnvOptionRules.h"
#include "app/window/options/NumField.h"
#include "app/window/options/ResizeOptionRules.h"
#include "app/window/options/tests/ProfileFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using optiontest::TProfileFixture;
using optiontest::WriteProfile;

namespace {

// ---------------------------------------------------------------------------
// Numeric fields

struct TNumCase {
  const char *Name;
  const char *Text;
  TNumRange Range;
  int32_t Expected;
};
class NumFieldText : public ::testing::TestWithParam<TNumCase> {};

TEST_P(NumFieldText, ReadsTheNumberOrTheDefaultWithinTheRange) {
  const TNumCase &C = GetParam();
  EXPECT_EQ(NumFieldValue(C.Text, C.Range), C.Expected) << C.Text;
}

constexpr TNumRange Threads{1, 8, 1, 1};
constexpr TNumRange Sharp{-4, 8, 1, 2};
INSTANTIATE_TEST_SUITE_P(
    Table, NumFieldText,
    ::testing::Values(TNumCase{"PlainNumber", "5", Threads, 5}, TNumCase{"Empty", "", Threads, 1},
                      TNumCase{"OnlyAMinus", "-", Sharp, 2}, TNumCase{"Letters", "abc", Threads, 1},
                      TNumCase{"ExponentIsNoNumber", "1e1", Threads, 1},
                      TNumCase{"TwoPoints", "1.2.3", Sharp, 2},
                      TNumCase{"AboveTheRange", "200", Threads, 8}, TNumCase{"BelowTheRange", "0", Threads, 1},
                      TNumCase{"NegativeInRange", "-3", Sharp, -3}, TNumCase{"NegativeBelow", "-9", Sharp, -4},
                      TNumCase{"FractionTruncates", "7.9", Threads, 7},
                      TNumCase{"NegativeFractionTruncatesTowardZero", "-2.7", Sharp, -2},
                      TNumCase{"LeadingBlankIsNoNumber", " 5", Threads, 1},
                      TNumCase{"StartNumberDefault", "x", START_NUMBER_RANGE, 1},
                      TNumCase{"StartNumberTop", "123456789", START_NUMBER_RANGE, 99999999},
                      TNumCase{"DefaultOutsideTheRangeIsClamped", "", TNumRange{10, 20, 1, 0}, 10}),
    [](const auto &I) { return std::string(I.param.Name); });

struct TStepCase {
  const char *Name;
  int32_t Value;
  int32_t Steps;
  TNumRange Range;
  int32_t Expected;
};
class NumFieldSteps : public ::testing::TestWithParam<TStepCase> {};

TEST_P(NumFieldSteps, MoveOnlyWhenTheResultStaysInTheRange) {
  const TStepCase &C = GetParam();
  EXPECT_EQ(NumFieldStep(C.Value, C.Steps, C.Range), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumFieldSteps,
    ::testing::Values(TStepCase{"UpInside", 3, 1, Threads, 4}, TStepCase{"DownInside", 3, -1, Threads, 2},
                      TStepCase{"UpAtTheTop", 8, 1, Threads, 8}, TStepCase{"DownAtTheBottom", 1, -1, Threads, 1},
                      TStepCase{"StepOfTenPastTheTopStays", 9995, 1, TNumRange{1, 9999, 10, 1}, 9995},
                      TStepCase{"StepOfTenInside", 100, 1, TNumRange{1, 9999, 10, 1}, 110}),
    [](const auto &I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Environment dialog

TEnvOptionRules RulesWith(const TSystemOption &S, const TFileOption &F = {}, const TColorManagementOption &C = {}) {
  return TEnvOptionRules(S, 0xFFFFFF, F, TPreviewOption{}, C);
}

// What OK writes into the records.
struct TStored {
  TSystemOption System;
  uint32_t Background = 0;
  TFileOption File;
  TPreviewOption Preview;
  TColorManagementOption Color;
};
TStored StoredBy(const TEnvOptionRules &R) {
  TStored Out;
  R.StoreTo(Out.System, Out.Background, Out.File, Out.Preview, Out.Color);
  return Out;
}

struct TThreadCase {
  const char *Name;
  int32_t Processors;
  bool Checked;
  bool BoxEnabled;
  bool FieldEnabled;
};
class ThreadEnabling : public ::testing::TestWithParam<TThreadCase> {};

TEST_P(ThreadEnabling, TheBoxNeedsTwoProcessorsAndTheFieldFollowsIt) {
  const TThreadCase &C = GetParam();
  TSystemOption S;
  S.ProcessorCount = C.Processors;
  const TEnvOptionRules R = RulesWith(S);
  EXPECT_EQ(R.ParallelBoxEnabled(), C.BoxEnabled);
  EXPECT_EQ(R.ThreadFieldEnabled(C.Checked), C.FieldEnabled);
  EXPECT_EQ(MaxThreadRange(C.Processors).Max, C.Processors);
  EXPECT_EQ(MaxThreadRange(C.Processors).Min, 1);
}

INSTANTIATE_TEST_SUITE_P(Table, ThreadEnabling,
                         ::testing::Values(TThreadCase{"OneProcessorChecked", 1, true, false, false},
                                           TThreadCase{"OneProcessorUnchecked", 1, false, false, false},
                                           TThreadCase{"TwoProcessorsChecked", 2, true, true, true},
                                           TThreadCase{"EightProcessorsUnchecked", 8, false, true, false}),
                         [](const auto &I) { return std::string(I.param.Name); });

struct TThreadStoreCase {
  const char *Name;
  int32_t StoredChoice;  // MaxThreadSetting as read (0 automatic)
  int32_t Shown;         // the thread field after editing
  bool Parallel;
  int32_t ExpectedSetting;
  int32_t ExpectedMaxThread;
  bool ExpectedParallel;
};
class ThreadChoice : public ::testing::TestWithParam<TThreadStoreCase> {};

TEST_P(ThreadChoice, AnUntouchedAutomaticChoiceStaysAutomaticAChangedOneIsKept) {
  const TThreadStoreCase &C = GetParam();
  TSystemOption S;
  S.ProcessorCount = 8;
  ApplySystemThreadRules(S, C.StoredChoice, true);
  TEnvOptionRules R = RulesWith(S);
  R.System.MaxThread = C.Shown;
  R.System.ParallelProcessing = C.Parallel;
  const TSystemOption Out = StoredBy(R).System;
  EXPECT_EQ(Out.MaxThreadSetting, C.ExpectedSetting);
  EXPECT_EQ(Out.MaxThread, C.ExpectedMaxThread);
  EXPECT_EQ(Out.ParallelProcessing, C.ExpectedParallel);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThreadChoice,
    ::testing::Values(TThreadStoreCase{"AutomaticUntouched", 0, 4, true, 0, 4, true},
                      TThreadStoreCase{"AutomaticChanged", 0, 6, true, 6, 6, true},
                      TThreadStoreCase{"ExplicitChanged", 3, 2, true, 2, 2, true},
                      TThreadStoreCase{"OneThreadSwitchesParallelOff", 4, 1, true, 1, 1, false},
                      TThreadStoreCase{"ParallelSwitchedOff", 0, 4, false, 0, 4, false}),
    [](const auto &I) { return std::string(I.param.Name); });

struct TTemplateCase {
  const char *Name;
  const char *Template;
  bool SameDirectory;
  const char *OutputDirectory;
  const char *ShownFolder;  // what the folder page shows
  const char *NamePart;
  bool ChosenSame;          // the folder page after editing
  const char *ChosenFolder;
  const char *Rebuilt;
};
class TemplateSplit : public ::testing::TestWithParam<TTemplateCase> {};

TEST_P(TemplateSplit, TheFolderPageEditsTheFolderAndOkRebuildsTheTemplate) {
  const TTemplateCase &C = GetParam();
  TFileOption F;
  F.FileNameFormat = C.Template;
  F.SameDirectory = C.SameDirectory;
  F.OutputDirectory = C.OutputDirectory;
  TEnvOptionRules R = RulesWith(TSystemOption{}, F);
  EXPECT_EQ(R.File.OutputDirectory, C.ShownFolder);
  EXPECT_EQ(R.NamePart, C.NamePart);
  R.File.SameDirectory = C.ChosenSame;
  R.File.OutputDirectory = C.ChosenFolder;
  const TFileOption Out = StoredBy(R).File;
  EXPECT_EQ(Out.FileNameFormat, C.Rebuilt);
  EXPECT_EQ(Out.SameDirectory, C.ChosenSame);
  EXPECT_EQ(Out.OutputDirectory, C.ChosenFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TemplateSplit,
    ::testing::Values(
        TTemplateCase{"AbsoluteKept", "/pics/out/<yyyy>/<old>", false, "/pics", "/pics/out", "<yyyy>/<old>", false,
                      "/pics/out", "/pics/out/<yyyy>/<old>"},
        TTemplateCase{"AbsoluteMovedToAnotherFolder", "/pics/out/<old>", false, "", "/pics/out", "<old>", false,
                      "/srv/web/", "/srv/web/<old>"},
        TTemplateCase{"AbsoluteBecomesBesideTheSources", "/pics/out/<old>", false, "", "/pics/out", "<old>", true,
                      "/pics/out", "<old>"},
        TTemplateCase{"RelativeKept", "resize/<old>", true, "/home/u", "/home/u", "resize/<old>", true, "/home/u",
                      "resize/<old>"},
        TTemplateCase{"RelativeGoesUnderTheFolder", "resize/<old>", true, "/home/u", "/home/u", "resize/<old>", false,
                      "/home/u", "/home/u/resize/<old>"}),
    [](const auto &I) { return std::string(I.param.Name); });

TEST(EnvOptionRules, ExtensionTextLosesEveryPointAndKeepsItsCase) {
  EXPECT_EQ(TEnvOptionRules::StoredTargetExt(".jpg,.PNG,t.if"), "jpg,PNG,tif");
  EXPECT_EQ(TEnvOptionRules::StoredTargetExt(""), "");
}

struct TEnablingCase {
  const char *Name;
  bool (*Rule)(bool);
  bool WhenOn;
};
class EnablingRules : public ::testing::TestWithParam<TEnablingCase> {};

TEST_P(EnablingRules, FollowTheirBox) {
  const TEnablingCase &C = GetParam();
  EXPECT_EQ(C.Rule(true), C.WhenOn);
  EXPECT_EQ(C.Rule(false), !C.WhenOn);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EnablingRules,
    ::testing::Values(TEnablingCase{"SameFolderDisablesTheOutputGroup", &TEnvOptionRules::OutputGroupEnabled, false},
                      TEnablingCase{"NotOverwriteEnablesTheChoices", &TEnvOptionRules::SkipChoicesEnabled, true},
                      TEnablingCase{"ExternalToolEnablesTheCommand", &TEnvOptionRules::CommandEnabled, true},
                      TEnablingCase{"DeleteFileEnablesTheName", &TEnvOptionRules::DeleteFileNameEnabled, true}),
    [](const auto &I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Profile lists

class ProfileLists : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-profiles-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    System = Dir + "/system";
    User = Dir + "/user";
    Other = Dir + "/other";
    for (const std::string &F : {System, User, Other}) fs::create_directories(F);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Make(const std::string &Folder, const std::string &Name, TProfileFixture Kind) {
    const std::string Path = Folder + "/" + Name;
    EXPECT_TRUE(WriteProfile(Kind, Path)) << Path;
    return Path;
  }
  static std::vector<std::string> Names(const TProfileList &L) {
    return std::vector<std::string>(L.Names.begin() + 1, L.Names.end());
  }
  std::string Dir, System, User, Other;
};

TEST_F(ProfileLists, FilesAreSortedByKindAndTheOthersLeftOut) {
  Make(System, "b-rgb.icc", TProfileFixture::RGB);
  Make(System, "a-rgb.ICM", TProfileFixture::RGB);
  Make(System, "press.icc", TProfileFixture::CMYK);
  Make(System, "gray.icm", TProfileFixture::Gray);
  Make(System, "link.icc", TProfileFixture::DeviceLink);
  Make(System, "lab.icc", TProfileFixture::Lab);
  Make(System, "junk.icc", TProfileFixture::Junk);
  Make(System, "rgb.txt", TProfileFixture::RGB);
  Make(User, "b-rgb.icc", TProfileFixture::RGB);  // a name already listed
  Make(User, "user-rgb.icc", TProfileFixture::RGB);
  TColorManagementOption C;
  C.ColorProfileDir = User;
  TEnvOptionRules R = RulesWith(TSystemOption{}, TFileOption{}, C);
  R.FillProfileLists({System + "/"});

  const std::vector<std::string> Rgb{"a-rgb.ICM", "b-rgb.icc", "user-rgb.icc"};
  EXPECT_EQ(Names(R.ProfileLists[PROFILE_LIST_MONITOR]), Rgb);
  EXPECT_EQ(Names(R.ProfileLists[PROFILE_LIST_WORKSPACE]), Rgb);
  EXPECT_EQ(Names(R.ProfileLists[PROFILE_LIST_RGB]), Rgb);
  EXPECT_EQ(Names(R.ProfileLists[PROFILE_LIST_CMYK]), std::vector<std::string>{"press.icc"});
  EXPECT_EQ(Names(R.ProfileLists[PROFILE_LIST_GRAY]), std::vector<std::string>{"gray.icm"});
  // The system folder's file of a name wins; paths run parallel to names.
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_RGB].Paths[2], System + "/b-rgb.icc");
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_RGB].Paths[3], User + "/user-rgb.icc");
  const char *First[] = {"既定のモニタプロファイル", "built-in sRGB Profile", "built-in CMYK Profile",
                         "built-in sRGB Profile", "built-in sGray Profile"};
  for (int i = 0; i < PROFILE_LIST_COUNT; ++i) {
    EXPECT_EQ(R.ProfileLists[size_t(i)].Names[0], First[i]);
    EXPECT_EQ(R.ProfileLists[size_t(i)].Paths[0], "");
    EXPECT_EQ(R.ProfileLists[size_t(i)].Index, 0) << "nothing stored selects the first entry";
  }
}

TEST_F(ProfileLists, EachListSelectsItsStoredPath) {
  const std::string A = Make(System, "a.icc", TProfileFixture::RGB);
  const std::string B = Make(System, "b.icc", TProfileFixture::RGB);
  const std::string K = Make(System, "k.icc", TProfileFixture::CMYK);
  const std::string G = Make(System, "g.icc", TProfileFixture::Gray);
  TColorManagementOption C;
  C.MonitorProfile = B;
  C.WorkSpaceProfile = A;
  C.CMYKProfile = K;
  C.RGBProfile = System + "/missing.icc";  // gone: the first entry
  C.GrayscaleProfile = G;
  TEnvOptionRules R = RulesWith(TSystemOption{}, TFileOption{}, C);
  R.FillProfileLists({System + "/"});
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_MONITOR].SelectedPath(), B);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_WORKSPACE].SelectedPath(), A);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_CMYK].SelectedPath(), K);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_RGB].Index, 0);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_GRAY].SelectedPath(), G);
}

TEST_F(ProfileLists, AStoredProfileOutsideTheScannedFoldersStaysListedAndSelected) {
  const std::string Far = Make(Other, "far.icc", TProfileFixture::RGB);
  TColorManagementOption C;
  C.WorkSpaceProfile = Far;
  C.ColorProfileDir = User;
  TEnvOptionRules R = RulesWith(TSystemOption{}, TFileOption{}, C);
  R.FillProfileLists({System + "/"});
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_WORKSPACE].SelectedPath(), Far);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_MONITOR].Index, 0) << "only its own list shows it";
}

struct TChoiceCase {
  const char *Name;
  int32_t List;
  TProfileFixture Kind;
  TProfileChoice Expected;
};
class ProfileChoice : public ::testing::TestWithParam<TChoiceCase> {};

TEST_P(ProfileChoice, AFileOfTheListsKindJoinsItAnyOtherIsRefused) {
  const TChoiceCase &C = GetParam();
  char Tmpl[] = "/tmp/tessivo-choice-XXXXXX";
  const std::string Dir = ::mkdtemp(Tmpl);
  const std::string Path = Dir + "/chosen.icc";
  ASSERT_TRUE(WriteProfile(C.Kind, Path));
  TColorManagementOption Cm;
  Cm.ColorProfileDir = "/before";
  TEnvOptionRules R = RulesWith(TSystemOption{}, TFileOption{}, Cm);
  R.FillProfileLists({});
  const auto Before = R.ProfileLists[size_t(C.List)];
  EXPECT_EQ(R.ChooseProfile(C.List, Path), C.Expected);
  const TProfileList &After = R.ProfileLists[size_t(C.List)];
  if (C.Expected == TProfileChoice::WrongKind) {
    EXPECT_EQ(After.Names, Before.Names);
    EXPECT_EQ(After.Index, Before.Index);
    EXPECT_EQ(R.UserColorProfileDir, "/before");
  } else {
    EXPECT_EQ(After.SelectedPath(), Path);
    EXPECT_EQ(After.Names.back(), "chosen.icc");
    EXPECT_EQ(R.UserColorProfileDir, Dir);
  }
  fs::remove_all(Dir);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileChoice,
    ::testing::Values(TChoiceCase{"RGBIntoMonitor", PROFILE_LIST_MONITOR, TProfileFixture::RGB, TProfileChoice::Appended},
                      TChoiceCase{"CMYKIntoMonitor", PROFILE_LIST_MONITOR, TProfileFixture::CMYK,
                                  TProfileChoice::WrongKind},
                      TChoiceCase{"GrayIntoWorkSpace", PROFILE_LIST_WORKSPACE, TProfileFixture::Gray,
                                  TProfileChoice::WrongKind},
                      TChoiceCase{"CMYKIntoCMYK", PROFILE_LIST_CMYK, TProfileFixture::CMYK, TProfileChoice::Appended},
                      TChoiceCase{"RGBIntoCMYK", PROFILE_LIST_CMYK, TProfileFixture::RGB, TProfileChoice::WrongKind},
                      TChoiceCase{"RGBIntoRGB", PROFILE_LIST_RGB, TProfileFixture::RGB, TProfileChoice::Appended},
                      TChoiceCase{"GrayIntoGray", PROFILE_LIST_GRAY, TProfileFixture::Gray, TProfileChoice::Appended},
                      TChoiceCase{"RGBIntoGray", PROFILE_LIST_GRAY, TProfileFixture::RGB, TProfileChoice::WrongKind},
                      TChoiceCase{"DeviceLinkIntoCMYK", PROFILE_LIST_CMYK, TProfileFixture::DeviceLink,
                                  TProfileChoice::WrongKind},
                      TChoiceCase{"JunkIntoRGB", PROFILE_LIST_RGB, TProfileFixture::Junk, TProfileChoice::WrongKind}),
    [](const auto &I) { return std::string(I.param.Name); });

TEST_F(ProfileLists, AChosenFileWhoseNameIsListedSelectsTheListedEntry) {
  const std::string Listed = Make(System, "same.icc", TProfileFixture::RGB);
  const std::string Again = Make(Other, "same.icc", TProfileFixture::RGB);
  TEnvOptionRules R = RulesWith(TSystemOption{}, TFileOption{}, TColorManagementOption{});
  R.FillProfileLists({System + "/"});
  const size_t Count = R.ProfileLists[PROFILE_LIST_RGB].Names.size();
  EXPECT_EQ(R.ChooseProfile(PROFILE_LIST_RGB, Again), TProfileChoice::Selected);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_RGB].Names.size(), Count);
  EXPECT_EQ(R.ProfileLists[PROFILE_LIST_RGB].SelectedPath(), Listed);
  EXPECT_EQ(R.UserColorProfileDir, Other) << "the chosen file's folder is offered next time";
}

TEST_F(ProfileLists, MonitorAndWorkSpaceChosenFromDifferentFilesStoreTheirOwn) {
  const std::string M = Make(User, "monitor.icc", TProfileFixture::RGB);
  const std::string W = Make(Other, "work.icc", TProfileFixture::RGB);
  TEnvOptionRules R = RulesWith(TSystemOption{}, TFileOption{}, TColorManagementOption{});
  R.FillProfileLists({});
  EXPECT_EQ(R.ProfileDialogFolder({System + "/"}), System + "/") << "no folder chosen yet: the colour folder";
  ASSERT_EQ(R.ChooseProfile(PROFILE_LIST_MONITOR, M), TProfileChoice::Appended);
  ASSERT_EQ(R.ChooseProfile(PROFILE_LIST_WORKSPACE, W), TProfileChoice::Appended);
  EXPECT_EQ(R.ProfileDialogFolder({System + "/"}), Other);
  const TColorManagementOption Out = StoredBy(R).Color;
  EXPECT_EQ(Out.MonitorProfile, M);
  EXPECT_EQ(Out.WorkSpaceProfile, W);
  EXPECT_EQ(Out.RGBProfile, "");
  EXPECT_EQ(Out.ColorProfileDir, Other);
}

// ---------------------------------------------------------------------------
// Resize dialog

struct TKernelCase {
  int32_t Kernel;
  TKernelGroup Group;
};
class KernelGroups : public ::testing::TestWithParam<TKernelCase> {};

TEST_P(KernelGroups, EachKernelShowsItsOwnParameterGroup) {
  EXPECT_EQ(TResizeOptionRules::GroupOf(GetParam().Kernel), GetParam().Group);
}

INSTANTIATE_TEST_SUITE_P(Table, KernelGroups,
                         ::testing::Values(TKernelCase{1, TKernelGroup::None}, TKernelCase{2, TKernelGroup::Radius},
                                           TKernelCase{3, TKernelGroup::None}, TKernelCase{4, TKernelGroup::Sharp},
                                           TKernelCase{5, TKernelGroup::Radius}, TKernelCase{6, TKernelGroup::None},
                                           TKernelCase{7, TKernelGroup::None}, TKernelCase{8, TKernelGroup::Blur},
                                           TKernelCase{9, TKernelGroup::None}),
                         [](const auto &I) { return "Kernel" + std::to_string(I.param.Kernel); });

TEST(ResizeOptionRules, TheListsOfferTheirKernelsInValueOrderWithTheirCaptions) {
  EXPECT_EQ(TResizeOptionRules::DecimationKernels(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(TResizeOptionRules::InterpolationKernels(), (std::vector<int32_t>{2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(TResizeOptionRules::KernelCaption(1), "平均画素法");
  EXPECT_EQ(TResizeOptionRules::KernelCaption(9), "NearestNeighbor");
}

struct TOpenCase {
  const char *Name;
  int32_t Decimation, Interpolation, SIMD;
  bool Degamma;
  int32_t DecimationIndex, InterpolationIndex, SIMDIndex;
  int32_t StoredSIMD;  // what OK stores without changes
};
class ResizeOpening : public ::testing::TestWithParam<TOpenCase> {};

TEST_P(ResizeOpening, SelectsTheStoredKernelsAndDataPath) {
  const TOpenCase &C = GetParam();
  TResizeOption O;
  O.DecimationMode = C.Decimation;
  O.InterpolationMode = C.Interpolation;
  O.SIMDMode = C.SIMD;
  O.Degamma = C.Degamma;
  const TResizeOptionRules R(O);
  EXPECT_EQ(R.DecimationIndex, C.DecimationIndex);
  EXPECT_EQ(R.InterpolationIndex, C.InterpolationIndex);
  EXPECT_EQ(R.SIMDIndex, C.SIMDIndex);
  EXPECT_EQ(R.SIMDMode(), C.StoredSIMD);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResizeOpening,
    ::testing::Values(TOpenCase{"Listed", 4, 8, 3, false, 3, 6, 1, 3},
                      TOpenCase{"AreaAverageIsNoEnlargementKernel", 1, 1, 2, false, 0, 0, 0, 2},
                      TOpenCase{"UnknownKernelsTakeTheFirstEntry", 12, 0, 3, false, 0, 0, 1, 3},
                      TOpenCase{"IntegerIsNotListedInLinearLight", 7, 7, 3, true, 6, 5, 0, 2}),
    [](const auto &I) { return std::string(I.param.Name); });

TEST(ResizeOptionRules, SwitchingLinearLightOnWithIntegerSelectedLeavesFloatAndStoresTwo) {
  TResizeOption O;
  O.SIMDMode = 3;
  O.Degamma = false;
  TResizeOptionRules R(O);
  ASSERT_EQ(R.SIMDMode(), 3);
  R.SetDegamma(true);
  EXPECT_EQ(TResizeOptionRules::SIMDChoices(true), std::vector<std::string>{"実数"});
  EXPECT_EQ(R.SIMDIndex, 0);
  TResizeOption Out;
  R.StoreTo(Out);
  EXPECT_EQ(Out.SIMDMode, 2);
  EXPECT_TRUE(Out.Degamma);
  R.SetDegamma(false);
  EXPECT_EQ(R.SIMDIndex, 0) << "switching it off again selects 実数 too";
  EXPECT_EQ(TResizeOptionRules::SIMDChoices(false), (std::vector<std::string>{"実数", "整数"}));
}

TEST(ResizeOptionRules, StoredValuesBeyondTheRangesOpenClamped) {
  TResizeOption O;
  O.DecimationRadius = 40;
  O.InterpolationRadius = 9;
  O.DecimationSharp = -7;
  O.InterpolationSharp = 12;
  O.DecimationBlur = 0;
  O.InterpolationBlur = 30;
  O.MaxThread = 64;
  const TResizeOptionRules R(O);
  EXPECT_EQ(R.DecimationRadius, 32);
  EXPECT_EQ(R.InterpolationRadius, 8);
  EXPECT_EQ(R.DecimationSharp, -4);
  EXPECT_EQ(R.InterpolationSharp, 8);
  EXPECT_EQ(R.DecimationBlur, 1);
  EXPECT_EQ(R.InterpolationBlur, 24);
  EXPECT_EQ(R.MaxThread, 16);
}

}  // namespace
