// The input list: keys, sorts, refresh, caches, list-view texts, and adding
// files and folders through the adding thread on real files.
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "batch/tests/ListTestUtil.h"
#include "batch/MakeOutputFileName.h"
#include "batch/ProgressFrm3.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <mutex>

namespace {

std::unique_ptr<TImageInfo> Entry(const std::string &Path, int32_t W = 0, int32_t H = 0) {
  auto e = std::make_unique<TImageInfo>();
  e->FPath = Path;
  e->Width = W;
  e->Height = H;
  return e;
}

std::vector<std::string> Names(const TImageInfoList &List) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < List.Count(); ++i) out.push_back(List[i]->GetName());
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> V) {
  std::sort(V.begin(), V.end());
  return V;
}

// Runs the adding controller over Paths and answers its modal result.
int32_t AddPaths(TImageInfoList &List, std::vector<std::string> Paths, TListupOptions Options,
                 bool IsTemp = false) {
  TProgressForm3 form(List);
  form.SetOptions(std::move(Options));
  form.AddFiles(std::move(Paths), IsTemp);
  return form.ShowModal();
}

// Collects what the probes and the adding thread write to the error log.
struct TErrorCapture {
  TErrorCapture() {
    SetLoadErrorProc([this](const std::string &Line) {
      std::lock_guard lock(Lock);
      Lines.push_back(Line);
    });
  }
  ~TErrorCapture() { SetLoadErrorProc(nullptr); }
  std::mutex Lock;
  std::vector<std::string> Lines;
};

// The answer of an adding run that must end; a walk that hangs ends the
// test program instead of the test run.
int32_t WaitForAdding(std::future<int32_t> &Done, const char *What) {
  if (Done.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    std::fprintf(stderr, "adding did not end: %s\n", What);
    std::fflush(stderr);
    std::_Exit(1);
  }
  return Done.get();
}

}  // namespace

TEST(ImageList, NaturalSortKey) {
  const std::string z15(15, '0');
  const struct {
    const char *Name;
    std::string Key;
  } cases[] = {
      {"img2.jpg", "img" + z15 + "2.jpg"},
      {"a10b7", "a" + std::string(14, '0') + "10b" + z15 + "7"},
      {"1234567890123456.jpg", "1234567890123456.jpg"},  // 16 digits stay as they are
      {"123456789012345.jpg", "0123456789012345.jpg"},
      {"noDigits", "noDigits"},
      {"", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(ZeroFillNameOf(c.Name), c.Key) << c.Name;
  EXPECT_LT(ZeroFillNameOf("img2.jpg"), ZeroFillNameOf("img10.jpg"));
}

TEST(ImageList, TargetExtensionCheck) {
  const struct {
    const char *TargetExt, *Path;
    bool Listed;
  } cases[] = {
      {"jpg,png", "/p/a.jpg", true},   {"jpg,png", "/p/a.jp", false}, {"jpg", "/p/photo.JPG", true},
      {"jpg", "/p/photo.jpeg", false}, {"JPG,.Png", "/p/x.png", true}, {"jpg", "/p.jpg/noext", false},
      {"jpg,png", "/p/a.pn", false},   {"jpg, png", "/p/a.png", true},
  };
  for (const auto &c : cases) EXPECT_EQ(TargetExtContains(c.TargetExt, c.Path), c.Listed) << c.TargetExt << " " << c.Path;
}

TEST(ImageList, DictionaryTracksPathsExactly) {
  TImageInfoList list;
  list.Add(Entry("/p/a.jpg"));
  list.Add(Entry("/p/b.jpg"));
  EXPECT_TRUE(list.Contains("/p/a.jpg"));
  EXPECT_FALSE(list.Contains("/p/A.jpg"));  // exact text, case included
  list.Move(0, 1);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"b.jpg", "a.jpg"}));
  EXPECT_TRUE(list.Contains("/p/a.jpg"));
  list.Delete(0);
  EXPECT_FALSE(list.Contains("/p/b.jpg"));
  list.Delete(5);  // out of range: nothing
  EXPECT_EQ(list.Count(), 1);
  list.Clear();
  EXPECT_FALSE(list.Contains("/p/a.jpg"));
}

TEST(ImageList, ColumnSortTogglesAndCyclesDimensions) {
  TImageInfoList list;
  list.Add(Entry("/p/a", 200, 100));
  list.Add(Entry("/p/b", 100, 300));
  list.Add(Entry("/p/c", 300, 200));
  list.Add(Entry("/p/d", 100, 100));
  const std::vector<std::vector<std::string>> clicks = {
      {"d", "b", "a", "c"},  // width ascending (height breaks the tie)
      {"d", "a", "c", "b"},  // height ascending
      {"c", "a", "b", "d"},  // width descending
      {"b", "c", "a", "d"},  // height descending
      {"d", "b", "a", "c"},  // and round again
  };
  for (size_t i = 0; i < clicks.size(); ++i) {
    list.SortList(1);
    EXPECT_EQ(Names(list), clicks[i]) << "click " << i + 1;
  }
  list.SortList(0);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b", "c", "d"}));
  list.SortList(0);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"d", "c", "b", "a"}));
}

TEST(ImageList, ColumnSortIsStable) {
  TImageInfoList list;
  for (const char *n : {"x1", "x2", "x3", "x4"}) list.Add(Entry(std::string("/p/") + n, 10, 10));
  list[1]->Size = 5;
  list.SortList(2);  // sizes 0, 5, 0, 0: equal sizes keep their order
  EXPECT_EQ(Names(list), (std::vector<std::string>{"x1", "x3", "x4", "x2"}));
  list.SortList(2);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"x2", "x1", "x3", "x4"}));
}

TEST(ImageList, FolderAndNaturalNameSortIncludesEarlierEntries) {
  TImageInfoList list;
  for (const char *p : {"/b/img10.jpg", "/a/img2.jpg", "/b/img2.jpg", "/a/img1.jpg", "/a/img10.jpg"})
    list.Add(Entry(p));
  list[0]->FillSortKeys();  // only some entries have keys yet
  list.SortByFolderAndName();
  std::vector<std::string> paths;
  for (int32_t i = 0; i < list.Count(); ++i) paths.push_back(list[i]->FPath);
  EXPECT_EQ(paths, (std::vector<std::string>{"/a/img1.jpg", "/a/img2.jpg", "/a/img10.jpg", "/b/img2.jpg",
                                             "/b/img10.jpg"}));
}

TEST(ImageList, DateSortFallsBackToModificationDate) {
  TImageInfoList list;
  list.Add(Entry("/p/a"));
  list.Add(Entry("/p/b"));
  list.Add(Entry("/p/c"));
  list[0]->DateTimeOriginal = 300, list[0]->DateTimeLastWrite = 1;
  list[1]->DateTimeLastWrite = 200;
  list[2]->DateTimeOriginal = 100, list[2]->DateTimeLastWrite = 900;
  list.SortByDate();
  EXPECT_EQ(Names(list), (std::vector<std::string>{"c", "b", "a"}));
}

TEST(ImageList, RemoveCheckedKeepsTheRest) {
  TImageInfoList list;
  for (const char *n : {"a", "b", "c", "d"}) list.Add(Entry(std::string("/p/") + n));
  list[0]->Checked = list[2]->Checked = list[3]->Checked = true;
  list.RemoveChecked();
  EXPECT_EQ(Names(list), (std::vector<std::string>{"b"}));
  EXPECT_FALSE(list.Contains("/p/d"));
}

TEST(ImageList, RefreshDropsVanishedAndNoLongerImageFiles) {
  TTempDir dir;
  WriteBmp(dir / "keep.bmp", 4, 3);
  WriteBmp(dir / "gone.bmp", 4, 3);
  WriteBmp(dir / "grown.bmp", 4, 3);
  WriteBmp(dir / "spoilt.bmp", 4, 3);
  TImageInfoList list;
  ASSERT_EQ(AddPaths(list, {dir / "keep.bmp", dir / "gone.bmp", dir / "grown.bmp", dir / "spoilt.bmp"}, {}), 1);
  ASSERT_EQ(list.Count(), 4);
  ::unlink((dir / "gone.bmp").c_str());
  WriteBmp(dir / "grown.bmp", 9, 7);
  SetMTime(dir / "grown.bmp", 1700000000);
  WriteBytes(dir / "spoilt.bmp", {'n', 'o', 'p', 'e'});
  SetMTime(dir / "spoilt.bmp", 1700000000);
  // An archive member stays while its archive exists.
  auto member = Entry(dir / "set/x/y.jpg");
  member->FIsArchive = LongTrue;
  member->FArchivePath = dir / "keep.bmp";
  list.Add(std::move(member));
  auto orphan = Entry(dir / "lost/y.jpg");
  orphan->FIsArchive = LongTrue;
  orphan->FArchivePath = dir / "lost.zip";
  list.Add(std::move(orphan));

  EXPECT_EQ(list.Refresh(), 3);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"keep.bmp", "grown.bmp", "y.jpg"}));
  EXPECT_EQ(list[1]->Width, 9);  // probed again
  EXPECT_EQ(list[1]->Height, 7);
  EXPECT_FALSE(list.Contains(dir / "spoilt.bmp"));
}

TEST(ImageList, TemporaryEntryDeletesItsFile) {
  TTempDir dir;
  WriteBmp(dir / "clip.bmp", 2, 2);
  WriteBmp(dir / "kept.bmp", 2, 2);
  {
    TImageInfoList list;
    ASSERT_EQ(AddPaths(list, {dir / "clip.bmp"}, {}, true), 1);
    // Adding the same temporary file again drops the duplicate, which must
    // not take the listed entry's file with it.
    ASSERT_EQ(AddPaths(list, {dir / "clip.bmp"}, {}, true), 1);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_TRUE(FileExists(dir / "clip.bmp"));
    ASSERT_EQ(AddPaths(list, {dir / "kept.bmp"}, {}, false), 1);
  }
  EXPECT_FALSE(FileExists(dir / "clip.bmp"));
  EXPECT_TRUE(FileExists(dir / "kept.bmp"));
}

TEST(ImageList, TypeNamesFromTheMimeDatabase) {
  TTempDir dir;
  MakeDirs(dir / "mime/image");
  WriteBytes(dir / "mime/globs2", {});
  {
    std::ofstream g(dir / "mime/globs2");
    g << "# comment\n50:image/x-low:*.qq\n60:image/x-tile:*.qq\n50:image/x-case:*.QC:cs\n"
         "50:image/x-plain:*.pl\n";
  }
  {
    std::ofstream x(dir / "mime/image/x-tile.xml");
    x << "<?xml version=\"1.0\"?>\n<mime-type type=\"image/x-tile\">\n  <comment>Tile image</comment>\n"
         "  <comment xml:lang=\"ja\">タイル &amp; 画像 </comment>\n</mime-type>\n";
    std::ofstream c(dir / "mime/image/x-case.xml");
    c << "<mime-type><comment>Case image</comment></mime-type>";
    std::ofstream p(dir / "mime/image/x-plain.xml");
    p << "<mime-type><comment>Plain &lt;image&gt;</comment><comment xml:lang=\"de\">Bild</comment></mime-type>";
  }
  TExtInfoList types;
  types.SetDataDirs({dir.Path()});
  const struct {
    const char *Ext, *Name;
  } cases[] = {
      {".qq", "タイル & 画像"},      // highest weight wins; Japanese first; trimmed
      {".QQ", "タイル & 画像"},      // globs without the flag ignore case
      {".QC", "Case image"},         // a case-sensitive glob matches its own case
      {".qc", "QC ファイル"},
      {".pl", "Plain <image>"},      // no Japanese description: the default one
      {".zzz", "ZZZ ファイル"},
  };
  for (const auto &c : cases) EXPECT_EQ(types.GetExtType(c.Ext), c.Name) << c.Ext;
  EXPECT_EQ(types.Pairs().front(), ".qq=タイル & 画像");

  // The system database, when installed, knows the common types.
  if (FileExists("/usr/share/mime/globs2") && FileExists("/usr/share/mime/image/jpeg.xml")) {
    TExtInfoList system;
    system.SetDataDirs({"/usr/share"});
    EXPECT_EQ(system.GetExtType(".jpg"), "JPEG 画像");
    EXPECT_EQ(system.GetExtType(".png"), "PNG 画像");
  }
}

TEST(ImageList, ThumbnailCacheKeepsTheLastTwenty) {
  TThumbnailCacheList cache;
  std::vector<int32_t> ids;
  for (int i = 0; i < 21; ++i) ids.push_back(cache.AddThumbnail(std::vector<uint8_t>(size_t(i + 1), uint8_t(i))));
  EXPECT_EQ(ids.front(), 0);
  EXPECT_EQ(ids.back(), 20);
  EXPECT_EQ(cache.GetThumbnail(0), nullptr);  // evicted
  ASSERT_NE(cache.GetThumbnail(1), nullptr);
  EXPECT_EQ(cache.GetThumbnail(1)->size(), 2u);
  EXPECT_EQ(cache.GetThumbnail(20)->size(), 21u);
  EXPECT_EQ(cache.GetThumbnail(99), nullptr);
  cache.ClearThumbnail();
  EXPECT_EQ(cache.GetThumbnail(20), nullptr);
  EXPECT_EQ(cache.AddThumbnail({1}), 21);  // identifiers keep counting
}

TEST(ImageList, ListViewTexts) {
  const struct {
    int64_t Size;
    const char *Text;
  } sizes[] = {{1500000, "1,465 KB"}, {0, "0 KB"}, {1, "1 KB"}, {1024, "1 KB"}, {1025, "2 KB"},
               {1048576000, "1,024,000 KB"}};
  for (const auto &s : sizes) EXPECT_EQ(ImageListView::FormatSizeKB(s.Size), s.Text) << s.Size;

  TImageInfo info;
  info.FPath = "/p/IMG_1.JPG";
  info.Size = 1500000;
  info.DateTimeLastWrite = 41459.52425925926;  // 2013-07-04 12:34:56
  info.DateTimeOriginal = 41459.5;
  // Not probed: no dimensions, type or shooting date.
  const char *unprobed[] = {"IMG_1.JPG", "", "1,465 KB", "", "2013/07/04 12:34", "", "/p/IMG_1.JPG"};
  for (int32_t c = 0; c < ImageListView::ColumnCount; ++c) EXPECT_EQ(ImageListView::CellText(info, c), unprobed[c]) << c;
  info.PictureFormat = PICTURE_JPEG;
  info.Width = 640, info.Height = 480;
  EXPECT_EQ(ImageListView::CellText(info, 1), "640 x 480");
  EXPECT_EQ(ImageListView::CellText(info, 5), "2013/07/04 12:00");
  EXPECT_FALSE(ImageListView::CellText(info, 3).empty());
  EXPECT_STREQ(ImageListView::ColumnCaption(5), "写真の撮影日");
  EXPECT_EQ(ImageListView::DefaultColumnWidth(6), 180);
}

TEST(ImageList, DateTimeDecoding) {
  const struct {
    double Value;
    int32_t Y, M, D, h, n, s;
  } cases[] = {
      {0, 1899, 12, 30, 0, 0, 0},
      {41459.52425925926, 2013, 7, 4, 12, 34, 56},
      {36950.9999999999, 2001, 3, 1, 0, 0, 0},  // rounds to the millisecond, past midnight
      {36950.99999998, 2001, 2, 28, 23, 59, 59},
      {-1.25, 1899, 12, 28, 18, 0, 0},
      {60, 1900, 2, 28, 0, 0, 0},
      {61, 1900, 3, 1, 0, 0, 0},
  };
  for (const auto &c : cases) {
    const TDateTimeParts p = DecodeDateTime(c.Value);
    EXPECT_EQ((std::vector<int32_t>{p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second}),
              (std::vector<int32_t>{c.Y, c.M, c.D, c.h, c.n, c.s}))
        << c.Value;
  }
}

// ---------------------------------------------------------------------------
// Adding

class Listup : public ::testing::Test {
protected:
  void SetUp() override {
    // root/a/x.bmp, root/a/photo.JPG, root/a/b/y.bmp, root/a/b/notes.txt
    MakeDirs(Dir / "a/b");
    WriteBmp(Dir / "a/x.bmp", 5, 4);
    WriteJpeg(Dir / "a/photo.JPG", 16, 8);
    WriteBmp(Dir / "a/b/y.bmp", 3, 2);
    WriteBytes(Dir / "a/b/notes.txt", {'h', 'i'});
  }
  TTempDir Dir;
  TImageInfoList List;
};

TEST_F(Listup, FolderWithAndWithoutSubfolders) {
  TListupOptions options;
  options.AddSubFolder = true;
  ASSERT_EQ(AddPaths(List, {Dir / "a"}, options), 1);
  EXPECT_EQ(Sorted(Names(List)), (std::vector<std::string>{"photo.JPG", "x.bmp", "y.bmp"}));
  for (int32_t i = 0; i < List.Count(); ++i) {
    const TImageInfo &e = *List[i];
    EXPECT_TRUE(e.Checked);
    EXPECT_EQ(e.Base, Dir.Path() + "/");
    EXPECT_EQ(e.Dir, e.GetName() == "y.bmp" ? "a/b/" : "a/");
    EXPECT_GT(e.Width, 0);
  }

  TImageInfoList flat;
  options.AddSubFolder = false;
  ASSERT_EQ(AddPaths(flat, {Dir / "a/"}, options), 1);  // a trailing delimiter changes nothing
  EXPECT_EQ(Sorted(Names(flat)), (std::vector<std::string>{"photo.JPG", "x.bmp"}));
  EXPECT_EQ(flat[0]->Base, Dir.Path() + "/");
}

TEST_F(Listup, DirectFilesAndDuplicates) {
  ASSERT_EQ(AddPaths(List, {Dir / "a/x.bmp", Dir / "a/x.bmp"}, {}), 1);
  ASSERT_EQ(AddPaths(List, {Dir / "a/x.bmp", Dir / "a/b/y.bmp"}, {}), 1);
  EXPECT_EQ(Names(List), (std::vector<std::string>{"x.bmp", "y.bmp"}));
  EXPECT_EQ(List[0]->Dir, "");
  EXPECT_EQ(List[0]->Base, Dir / "a/");
  EXPECT_EQ(List[0]->PictureFormat, PICTURE_BMP);
  EXPECT_EQ(List[0]->Width, 5);
}

TEST_F(Listup, ExtensionFilter) {
  WriteJpeg(Dir / "a/photo.jpeg", 8, 8);
  TListupOptions options;
  options.AddSubFolder = false;
  options.CheckExt = true;
  options.TargetExt = "jpg";
  ASSERT_EQ(AddPaths(List, {Dir / "a"}, options), 1);
  EXPECT_EQ(Names(List), (std::vector<std::string>{"photo.JPG"}));
}

TEST_F(Listup, JPEGTranModeKeepsOnlyJPEGsEvenWithoutProbing) {
  const int32_t savedMode = ConvertMode;
  const TFileOption savedOption = FileOption;
  ConvertMode = CONVERT_MODE_JPEGTRAN;
  FileOption.SkipImageCheck = LongTrue;
  FileOption.AddSubFolder = true;
  const TListupOptions options = CurrentListupOptions();
  ConvertMode = savedMode;
  FileOption = savedOption;
  EXPECT_FALSE(options.SkipImageCheck);
  WritePng(Dir / "a/pic.png", 6, 5);
  TImageProbe probe;
  ASSERT_TRUE(ProbeImageFile(Dir / "a/pic.png", probe));
  ASSERT_EQ(probe.PictureFormat, PICTURE_PNG);
  ASSERT_EQ(AddPaths(List, {Dir / "a"}, options), 1);
  EXPECT_EQ(Names(List), (std::vector<std::string>{"photo.JPG"}));
}

TEST_F(Listup, AutomaticSortOptions) {
  const TFileOption saved = FileOption;
  const struct {
    int32_t Mode;
    bool AtOnce, ByName, ByDate;
  } cases[] = {{0, true, false, false}, {1, false, false, false}, {1, true, true, false}, {2, false, false, false},
               {2, true, false, true},  {3, false, true, false},  {4, false, false, true}, {7, true, false, false}};
  for (const auto &c : cases) {
    FileOption.AutoSortMode = c.Mode;
    FileOption.AtOnce = c.AtOnce;
    const TListupOptions o = CurrentListupOptions();
    EXPECT_EQ(o.SortByName, c.ByName) << c.Mode << " " << c.AtOnce;
    EXPECT_EQ(o.SortByDate, c.ByDate) << c.Mode << " " << c.AtOnce;
    EXPECT_EQ(o.SkipImageCheck, c.AtOnce) << "AtOnce adds without probing";
  }
  FileOption = saved;
}

TEST_F(Listup, NaturalNameSortAfterAdding) {
  MakeDirs(Dir / "n");
  for (const char *n : {"img10.bmp", "img2.bmp", "img1.bmp", "IMG3.bmp"}) WriteBmp(Dir / (std::string("n/") + n), 2, 2);
  TListupOptions options;
  options.SortByName = true;
  ASSERT_EQ(AddPaths(List, {Dir / "n"}, options), 1);
  EXPECT_EQ(Names(List), (std::vector<std::string>{"IMG3.bmp", "img1.bmp", "img2.bmp", "img10.bmp"}));
}

TEST_F(Listup, SymbolicLinksFollowedLikeShortcuts) {
  MakeDirs(Dir / "elsewhere/deep");
  WriteBmp(Dir / "elsewhere/e.bmp", 2, 2);
  WriteBmp(Dir / "elsewhere/deep/f.bmp", 2, 2);
  WriteBmp(Dir / "target.bmp", 2, 2);
  ASSERT_EQ(::symlink((Dir / "target.bmp").c_str(), (Dir / "a/link.bmp").c_str()), 0);
  ASSERT_EQ(::symlink((Dir / "elsewhere").c_str(), (Dir / "a/folderlink").c_str()), 0);
  ASSERT_EQ(::symlink((Dir / "missing.bmp").c_str(), (Dir / "a/dangling.bmp").c_str()), 0);
  ASSERT_EQ(::symlink("self.bmp", (Dir / "a/self.bmp").c_str()), 0);  // a link to itself
  ASSERT_EQ(::symlink("..", (Dir / "a/b/up").c_str()), 0);            // leads back to a: a cycle
  ASSERT_EQ(::symlink(Dir.Path().c_str(), (Dir / "a/b/root").c_str()), 0);

  TListupOptions options;
  options.AddSubFolder = true;
  auto done = std::async(std::launch::async, [&] { return AddPaths(List, {Dir / "a"}, options); });
  ASSERT_EQ(WaitForAdding(done, "links"), 1);
  // Every image once: the links' targets, the folder behind the link, and
  // the root reached through a link (which holds target.bmp again).
  EXPECT_EQ(Sorted(Names(List)),
            (std::vector<std::string>{"e.bmp", "f.bmp", "photo.JPG", "target.bmp", "x.bmp", "y.bmp"}));
  for (int32_t i = 0; i < List.Count(); ++i) {
    const TImageInfo &e = *List[i];
    if (e.GetName() == "target.bmp") {
      EXPECT_EQ(e.FPath, Dir / "target.bmp");  // the target is what is listed
      EXPECT_EQ(e.Dir, "");
    }
    if (e.GetName() == "e.bmp") {
      EXPECT_EQ(e.Dir, "elsewhere/");
    }
  }

  // Without AddSubFolder neither real subfolders nor links to folders are
  // walked; links to files still are.
  TImageInfoList flat;
  options.AddSubFolder = false;
  ASSERT_EQ(AddPaths(flat, {Dir / "a"}, options), 1);
  EXPECT_EQ(Sorted(Names(flat)), (std::vector<std::string>{"photo.JPG", "target.bmp", "x.bmp"}));
}

TEST_F(Listup, CorruptAndSpecialFiles) {
  TErrorCapture errors;
  WriteBytes(Dir / "a/broken.jpg", {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f'});
  WriteBytes(Dir / "a/garbage.png", std::vector<uint8_t>(300, 0xAB));
  WriteBytes(Dir / "a/empty.bmp", {});
  std::vector<uint8_t> badBmp(60, 0);
  badBmp[0] = 'B', badBmp[1] = 'M', badBmp[14] = 40, badBmp[18] = 0xFF, badBmp[19] = 0xFF, badBmp[20] = 0xFF,
  badBmp[21] = 0x7F;
  WriteBytes(Dir / "a/huge.bmp", badBmp);
  ASSERT_EQ(::mkfifo((Dir / "a/pipe.bmp").c_str(), 0600), 0);

  TListupOptions options;
  options.AddSubFolder = false;
  auto done = std::async(std::launch::async, [&] { return AddPaths(List, {Dir / "a", Dir / "nothere.jpg"}, options); });
  ASSERT_EQ(WaitForAdding(done, "a pipe in the folder"), 1);
  std::vector<std::string> names = Sorted(Names(List));
  // The BMP header with an absurd width is still a header; the rest is no image.
  names.erase(std::remove(names.begin(), names.end(), "huge.bmp"), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"photo.JPG", "x.bmp"}));
  {
    std::lock_guard lock(errors.Lock);
    ASSERT_FALSE(errors.Lines.empty());
    EXPECT_EQ(errors.Lines.back().rfind(Dir / "nothere.jpg:", 0), 0u) << errors.Lines.back();
  }

  // Added without probing the same files are listed as they are (format 0)
  // and the naming pass leaves them out.
  TImageInfoList unprobed;
  options.SkipImageCheck = true;
  ASSERT_EQ(AddPaths(unprobed, {Dir / "a/broken.jpg", Dir / "a/garbage.png", Dir / "a/x.bmp"}, options), 1);
  ASSERT_EQ(unprobed.Count(), 3);
  EXPECT_EQ(unprobed[0]->PictureFormat, PICTURE_UNKNOWN);
  EXPECT_EQ(unprobed[0]->Size, 10);
  EXPECT_GT(unprobed[0]->DateTimeLastWrite, 0);
  const TFileOption saved = FileOption;
  FileOption.NotOverwrite = true;
  FileOption.Skip = false;
  LoadConvertTable({});
  const TOutputNameTotals totals = MakeOutputFileNames(unprobed, "out/<old>", CurrentRunSettings(), nullptr);
  FileOption = saved;
  EXPECT_EQ(totals.OutputFileCount, 1);
  EXPECT_TRUE(unprobed[0]->OutPutFileName.empty());
  EXPECT_TRUE(unprobed[1]->OutPutFileName.empty());
  EXPECT_EQ(unprobed[2]->OutPutFileName, Dir / "a/out/x.bmp");
  EXPECT_EQ(unprobed[2]->PictureFormat, PICTURE_BMP);  // probed by the naming pass
}

TEST_F(Listup, StopRequests) {
  TListupOptions options;
  std::vector<uint32_t> messages;
  TListupThread thread(List, TListupThread::TMode::Folder, {Dir / "a"}, false, options,
                       [&](uint32_t Msg, uint64_t) { messages.push_back(Msg); });
  thread.Terminate();
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(messages, (std::vector<uint32_t>{WM_LISTUP_STOPPED}));
  EXPECT_EQ(List.Count(), 0);

  TProgressForm3 form(List);
  form.SetOptions(options);
  form.AddFolder(Dir / "a");
  uint32_t reported = 0;
  form.OnReport = [&](uint32_t Msg) { reported = Msg; };
  EXPECT_EQ(form.ShowModal(), 1);
  EXPECT_EQ(reported, WM_LISTUP_DONE);
  EXPECT_EQ(List.Count(), 3);
}

// ---------------------------------------------------------------------------
// Archive members, through an archive host over uncompressed tar files made
// by the system's tar.

namespace {

class TTarHost : public TArchiveHost {
public:
  bool ClaimsExtension(const std::string &Path) override { return LowerExtension(Path) == ".tar"; }
  void *PluginFor(const std::string &, const uint8_t *Head) override {
    return std::memcmp(Head + 257, "ustar", 5) == 0 ? this : nullptr;
  }
  bool ReadMembers(const std::string &Path, void *, std::vector<TArchiveMemberInfo> &Members) override {
    std::ifstream in(Path, std::ios::binary);
    std::vector<char> h(512);
    uint64_t pos = 0;
    while (in.read(h.data(), 512) && h[0] != '\0') {
      const uint64_t size = std::strtoull(std::string(h.data() + 124, 12).c_str(), nullptr, 8);
      const char type = h[156];
      std::string name(h.data(), strnlen(h.data(), 100));
      if (std::memcmp(h.data() + 257, "ustar", 5) == 0 && h[345])
        name = std::string(h.data() + 345, strnlen(h.data() + 345, 155)) + "/" + name;
      if (type == '0' || type == '\0') {
        TArchiveMemberInfo m;
        const size_t slash = name.find_last_of('/');
        m.Path = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        m.FileName = slash == std::string::npos ? name : name.substr(slash + 1);
        m.Position = uint32_t(pos);
        m.CompSize = m.FileSize = uint32_t(size);
        m.TimeStamp = int64_t(std::strtoull(std::string(h.data() + 136, 12).c_str(), nullptr, 8));
        Members.push_back(m);
      }
      const uint64_t skip = (size + 511) / 512 * 512;
      in.seekg(std::streamoff(skip), std::ios::cur);
      pos += 512 + skip;
    }
    return true;
  }
  bool Extract(const std::string &Path, void *, const TArchiveMemberInfo &Member, std::vector<uint8_t> &Bytes) override {
    std::ifstream in(Path, std::ios::binary);
    in.seekg(std::streamoff(Member.Position + 512));
    Bytes.resize(Member.FileSize);
    return bool(in.read(reinterpret_cast<char *>(Bytes.data()), std::streamsize(Bytes.size())));
  }
};

}  // namespace

TEST_F(Listup, ArchiveMembers) {
  MakeDirs(Dir / "p/pack/x");
  WriteBmp(Dir / "p/pack/x/y.bmp", 7, 3);
  WriteJpeg(Dir / "p/pack/top.jpg", 8, 8);
  WriteBytes(Dir / "p/pack/x/z.txt", {'t'});
  const std::string cmd = "tar --format=ustar -C '" + (Dir / "p/pack") + "' -cf '" + (Dir / "p/set.tar") + "' x top.jpg";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "no tar";
  // A member that climbs out of the archive's folder stays inside it.
  const std::string climb = "tar --format=ustar -P --transform 's,^,../../up/,' -C '" + (Dir / "p/pack") +
                            "' -rf '" + (Dir / "p/set.tar") + "' climb.bmp";
  WriteBmp(Dir / "p/pack/climb.bmp", 2, 2);
  ASSERT_EQ(std::system(climb.c_str()), 0);
  TTarHost host;
  ArchiveHost = &host;
  struct TReset {
    ~TReset() { ArchiveHost = nullptr; }
  } reset;

  TListupOptions options;
  ASSERT_EQ(AddPaths(List, {Dir / "p/set.tar", Dir / "p/set.tar"}, options), 1);
  EXPECT_EQ(Sorted(Names(List)), (std::vector<std::string>{"climb.bmp", "top.jpg", "y.bmp"}));
  for (int32_t i = 0; i < List.Count(); ++i) {
    const TImageInfo &e = *List[i];
    EXPECT_TRUE(e.FIsArchive);
    if (e.GetName() == "climb.bmp") {
      EXPECT_EQ(e.FPath, Dir / "p/set/up/climb.bmp");
      EXPECT_EQ(e.Width, 2);
    }
    EXPECT_EQ(e.FArchivePath, Dir / "p/set.tar");
    EXPECT_EQ(e.Base, Dir / "p/");
    if (e.GetName() == "y.bmp") {
      EXPECT_EQ(e.FPath, Dir / "p/set/x/y.bmp");  // the archive path without extension, then the member
      EXPECT_EQ(e.Dir, "set/x/");
      EXPECT_EQ(e.Width, 7);
      EXPECT_EQ(e.Size, int32_t(54 + 24 * 3));
    }
  }

  TImageInfoList unprobed;
  options.SkipImageCheck = true;
  ASSERT_EQ(AddPaths(unprobed, {Dir / "p/set.tar"}, options), 1);
  EXPECT_EQ(Sorted(Names(unprobed)), (std::vector<std::string>{"climb.bmp", "top.jpg", "y.bmp", "z.txt"}));
  EXPECT_EQ(unprobed[0]->PictureFormat, PICTURE_UNKNOWN);

  TImageInfoList lossless;
  options.SkipImageCheck = false;
  options.JPEGTranMode = true;
  ASSERT_EQ(AddPaths(lossless, {Dir / "p/set.tar"}, options), 1);
  EXPECT_EQ(Names(lossless), (std::vector<std::string>{"top.jpg"}));

  // Members stay while the archive is there.
  EXPECT_EQ(List.Refresh(), 0);
  ::unlink((Dir / "p/set.tar").c_str());
  EXPECT_EQ(List.Refresh(), 3);
}
