// The table of profile keys and what is made from it.
#include "app/ProfileKeys.h"

#include "core/AsciiCase.h"
#include "core/IniFile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <set>

namespace {

constexpr TOutOfRange C = TOutOfRange::Clamp;
constexpr TOutOfRange R = TOutOfRange::ReaderRule;

TProfileKey Key(const char *S, const char *K, char T, const char *D, const char *M) {
  return {S, K, T, D, false, 0, 0, C, "", M};
}
// A key whose default depends on the machine; Default describes it.
TProfileKey Described(const char *S, const char *K, char T, const char *D, const char *M, bool HasRange = false,
                      double Lo = 0, double Hi = 0) {
  return {S, K, T, D, HasRange, Lo, Hi, C, "", M, true};
}
TProfileKey Ranged(const char *S, const char *K, const char *D, double Lo, double Hi, const char *M,
                   TOutOfRange How = C, const char *ReaderValue = "") {
  return {S, K, 'I', D, true, Lo, Hi, How, ReaderValue, M};
}
TProfileKey Flag(const char *S, const char *K, const char *D, const char *M) {
  return {S, K, 'B', D, true, 0, 1, C, "", M};
}

std::vector<TProfileKey> MakeTable() {
  std::vector<TProfileKey> T = {
      // System
      Ranged("System", "MaxThread", "0", 0, 1024, "files converted at once (0: automatic, at most 4; never more than the processors)"),
      Flag("System", "Parallel", "1", "convert several files at once"),
      Flag("System", "MemReserve", "0", "address-space reservation at start-up (read and kept; does nothing in a 64-bit build)"),
      Ranged("System", "MemoryBudgetMB", "0", 0, 16777216, "memory the files converted at once may use together, in MiB, shared evenly by the workers; a file whose decode or resize would need more than its share is refused (0: half of the physical memory, or of the control group's limit when lower)"),
      Flag("System", "UseExternalTool", "0", "run Command after a run without errors"),
      Key("System", "Command", 'S', "", "the command run after a clean run"),
      Ranged("System", "Dither", "0", 0, 1, "dither when reducing 14- and 16-bit images to 8 bits"),
      Flag("System", "Multiple", "0", "allow several instances of the window application"),
      Key("System", "Caption", 'S', "%ini", "window caption (\"%ini\": the profile name)"),
      Ranged("System", "ThumbnailSize", "1", 0, 3, "size of the list thumbnails"),
      Flag("System", "AVX", "1", "use the AVX2 code paths where the processor has them"),
      Flag("System", "DeleteFile", "0", "the post-run command deletes the file DeleteFileName"),
      Key("System", "DeleteFileName", 'S', "", "file the post-run command deletes"),
      Flag("System", "WatchClipBoard", "0", "the window application watches the clipboard for images"),
      Flag("System", "EnabledLabMode", "0", "experimental features of the window application"),
      Key("System", "SoundFile", 'S', "", "sound played at the end of a run"),
      Ranged("System", "Priority", "2", 0, 4, "process priority: 0 idle, 1 below normal, 2 normal, 3 above normal, 4 high"),
  };
  static const char *const PaletteNames[16] = {
      "CustomPalette1", "CustomPalette2",  "CustomPalette3",  "CustomPalette4",  "CustomPalette5",  "CustomPalette6",
      "CustomPalette7", "CustomPalette8",  "CustomPalette9",  "CustomPalette10", "CustomPalette11", "CustomPalette12",
      "CustomPalette13", "CustomPalette14", "CustomPalette15", "CustomPalette16"};
  for (const char *Name : PaletteNames) T.push_back(Key("System", Name, 'I', "16777215", "custom colour of the colour dialog (0x00BBGGRR)"));
  const std::vector<TProfileKey> Rest = {
      Key("System", "Background", 'I', "16777215", "colour transparency is flattened onto (0x00BBGGRR)"),
      Flag("Stsrem", "NotifySound", "0", "play SoundFile at the end of a run"),
      // File
      Described("File", "OutPutDirectory", 'S', "the picture folder + \"/TessivoPlus\"", "output folder of a relative template when SameDirectory is off"),
      Flag("File", "ShowDirectory", "1", "show the output folder in the main window"),
      Key("File", "FileNameFormat", 'S', "resize/<old>", "output file-name template; relative: below each source's folder (or OutPutDirectory)"),
      Flag("File", "SameDirectory", "1", "a relative template is taken from each source's folder"),
      Flag("File", "NotOverwrite", "1", "never replace an existing output: take the next free \"[k]\" name (or skip with Skip)"),
      Flag("File", "RenameOnly", "0", "copy or move the files under their new names without converting"),
      Flag("File", "AddSubFolder", "1", "walk the subfolders of a given folder"),
      Flag("File", "AtOnce", "0", "convert at once when files are handed over"),
      Flag("File", "RemoveList", "0", "empty the list after a run"),
      Flag("File", "Skip", "0", "with NotOverwrite: skip a file whose output exists instead of numbering it"),
      Key("File", "StartNumber", 'I', "1", "first serial number of the template's number tokens"),
      Ranged("File", "NumberResetType", "0", 0, 2, "serial numbers: 0 restart every run, 1 continue within the program run, 2 continue and store"),
      Flag("File", "IgnoreReadOnlyAttr", "0", "replace read-only outputs too"),
      Described("File", "ClipBoardTemp", 'S', "$TMPDIR, else /tmp", "folder for images taken from the clipboard"),
      Flag("File", "SkipImageCheck", "0", "add files by extension without probing them"),
      Flag("File", "OpenCheck", "1", "check that a source can be opened before it is added"),
      Flag("File", "DeleteInputFile", "0", "delete each source once its output is complete"),
      Ranged("File", "AutoSortMode", "0", 0, 4, "sort the list: 0 no, 1 by name, 2 by date (with AtOnce), 3 by name, 4 by date"),
      Flag("File", "AllowUndo", "0", "deleted sources go to the Trash"),
      Key("File", "TargetExt", 'S', "jpg,png,bmp,tif,gif,ico,wdp,jxr,hdp", "extensions taken when CheckExt is on"),
      Flag("File", "CheckExt", "0", "take only files with an extension in TargetExt"),
      // Resize
      Ranged("Resize", "Rule", "0", 0, 13, "size rule: 0 percent, 1 long side, 2 short side, 3 width, 4 height, 5 long x short %, 6 width x height %, 7 long x short px, 8 width x height px, 9 history, 10 fit in width x height, 11 cover width x height, 12 fit in long x short, 13 cover long x short", R, "0"),
      Key("Resize", "Size1", 'S', "100,512,384,512,384,100,100,512,512,0,512,512,512,512", "first value of each rule, comma separated, in rule order"),
      Key("Resize", "Size2", 'S', "0,0,0,0,0,100,100,384,384,0,384,384,384,384", "second value of each rule"),
      Key("Resize", "History", 'S', "\"8,640,480\",\"0,50,50\"", "rules used before, newest first (\"rule,value1,value2\" each)"),
      Ranged("Resize", "DecimationType", "7", 0, 9, "reduction kernel: 1 area average, 2 Lanczos, 3 bilinear, 4 bicubic, 5 Blackman sinc, 6 Spline16, 7 Spline36, 8 Gaussian, 9 nearest"),
      Ranged("Resize", "DecimationRadius", "3", 1, 32, "lobes of the Lanczos and Blackman-sinc reduction kernels"),
      Ranged("Resize", "DecimationSharp", "2", -4, 8, "sharpness of the bicubic reduction kernel"),
      Ranged("Resize", "DecimationBlur", "10", 1, 24, "width of the Gaussian reduction kernel"),
      Ranged("Resize", "InterpolationType", "7", 0, 9, "enlargement kernel (numbers as DecimationType)"),
      Ranged("Resize", "InterpolationRadius", "3", 1, 8, "lobes of the Lanczos and Blackman-sinc enlargement kernels"),
      Ranged("Resize", "InterpolationSharp", "0", -4, 8, "sharpness of the bicubic enlargement kernel"),
      Ranged("Resize", "InterpolationBlur", "11", 1, 24, "width of the Gaussian enlargement kernel"),
      Ranged("Resize", "SIMD", "3", 2, 3, "resampling arithmetic: 2 single precision, 3 14-bit integer", R, "3"),
      Described("Resize", "MaxThread", 'I', "the number of processors", "threads one resize uses (0: the number of processors)", true, 0, 1024),
      Flag("Resize", "Degamma", "0", "resample in linear light"),
      Flag("Resize", "NoExpand", "0", "never enlarge: an image already smaller than the target keeps its size"),
      Flag("Resize", "Limiter", "0", "limit the overshoot of sharp kernels to the neighbouring source pixels"),
      // Output formats
      Ranged("Bitmap", "ConvertTo", "1", 0, 3, "BMP sources: what they become when the conversion table says so"),
      Flag("Bitmap", "AlphaChannelSupport", "1", "write 32-bit BMP with alpha"),
      Ranged("Bitmap", "AlphaBitmapHeaderType", "1", 0, 2, "header of a BMP with alpha"),
      Ranged("Bitmap", "AlphaCheckType", "0", 0, 2, "how the alpha of a 32-bit BMP source is trusted"),
      Described("Bitmap", "AlphaCheckStrict", 'B', "absent", "older switch: when present it decides AlphaCheckType (1: 2, 0: 0)", true, 0, 1),
      Flag("Bitmap", "IndexColor", "0", "write BMP with 256 colours or fewer as indexed"),
      Ranged("JPEG", "ConvertTo", "2", 0, 3, "JPEG sources: decoded colour handling"),
      Ranged("JPEG", "SampleType", "1", 0, 3, "chroma subsampling: 0 4:2:0, 1 4:2:2, 2 4:4:4, 3 4:1:1"),
      Ranged("JPEG", "Smoothing", "0", 0, 100, "smoothing factor of the JPEG encoder"),
      Ranged("JPEG", "Quality", "90", 1, 100, "JPEG quality"),
      Flag("JPEG", "AddExifInfo", "1", "copy the Exif data into the output"),
      Ranged("JPEG", "DecodeWithDownScaling", "0", 0, 3, "halvings the JPEG decoder may do when reducing"),
      Ranged("JPEG", "DownScalingLimit", "200", 100, 1000, "decoder scaling keeps at least this percent of the target size"),
      Ranged("JPEG", "DCTMethod", "0", 0, 2, "DCT of the JPEG codec: 0 integer, 1 fast integer, 2 floating point"),
      Flag("JPEG", "UpdateExif", "1", "write the new image size into the Exif data"),
      Flag("JPEG", "UpdateExifResolution", "0", "write the new resolution into the Exif data"),
      Flag("JPEG", "UseFileSizeLimit", "0", "lower the quality until the file fits FileSizeLimit"),
      Ranged("JPEG", "FileSizeLimit", "200", 1, 1048576, "file size limit in KiB"),
      Ranged("JPEG", "QualityLimit", "75", 1, 100, "lowest quality the size limit may use"),
      Ranged("JPEG", "SampleTypeLimit", "0", 0, 3, "subsampling the size limit may switch to"),
      Flag("JPEG", "UpdateExifThumbnail", "0", "make a new Exif thumbnail from the output"),
      Flag("JPEG", "AlwaysRecompress", "0", "re-encode a JPEG even when nothing changes it (else it is copied)"),
      Flag("JPEG", "RemoveAPP0Marker", "1", "leave out the JFIF APP0 marker when Exif is written"),
      Key("JPEG", "LumaTableName", 'S', "", "luminance quantisation table file in LumaQT/"),
      Key("JPEG", "ChromaTableName", 'S', "", "chrominance quantisation table file in ChromaQT/"),
      Flag("JPEG", "UseQuantizationTable", "0", "use the two table files (only when both exist)"),
      Flag("JPEG", "Progressive", "0", "write progressive JPEG"),
      Flag("JEPG", "KeepQuality", "0", "encode with the quality estimated from the source"),
      Ranged("PNG", "ConvertTo", "3", 0, 3, "PNG sources: alpha handling"),
      Ranged("PNG", "Filter", "0", 0, 248, "row filters: sum of 8 None, 16 Sub, 32 Up, 64 Average, 128 Paeth (0: the encoder chooses)"),
      Ranged("PNG", "CompressLevel", "6", 0, 9, "zlib compression level"),
      Flag("PNG", "WritepHYsChunk", "0", "store the resolution in a pHYs chunk"),
      Flag("PNG", "IndexColor", "1", "write PNG with 256 colours or fewer as indexed"),
      Ranged("PNG", "TransparentType", "0", 0, 5, "transparent colour of an indexed PNG: 0 none, 1-4 a corner pixel, 5 TransparentColor"),
      Key("PNG", "TransparentColor", 'I', "0", "the transparent colour with TransparentType 5 (0x00BBGGRR)"),
      Flag("PNG", "UsePNGOUT", "0", "recompress with bin/pngout (only when it exists)"),
      Flag("PNG", "MaximumOptimization", "0", "pngout: the slowest, smallest setting"),
      Flag("PNG", "FullColorOptimization", "0", "pngout: optimise full-colour PNG too"),
      Flag("PNG", "UsebKGDChunk", "1", "flatten onto the bKGD colour of a source PNG"),
      Ranged("PNG", "16Bit", "2", 0, 2, "16-bit output: 0 off, 1 on, 2 only for 16-bit sources"),
      Flag("PNG", "UseWIC", "0", "older decoder choice (read and kept)"),
      Flag("HDP", "UseCodecOptions", "0", "use the JPEG XR settings below instead of the codec's defaults"),
      Ranged("HDP", "Quality", "11", 1, 101, "JPEG XR quality, stored as 101 minus the shown 0 to 100"),
      Ranged("HDP", "Overlap", "1", 0, 2, "JPEG XR overlap filtering"),
      Ranged("HDP", "Subsampling", "3", 1, 3, "JPEG XR chroma: 1 4:2:0, 2 4:2:2, 3 4:4:4"),
      Ranged("HDP", "HorizontalTileSlices", "0", 0, 4095, "JPEG XR tiles across, minus one"),
      Ranged("HDP", "VerticalTileSlices", "0", 0, 4095, "JPEG XR tiles down, minus one"),
      Flag("HDP", "InterleavedAlpha", "0", "interleave alpha (off: alpha with its own quality)"),
      Ranged("HDP", "AlphaQuality", "11", 1, 101, "alpha quality, stored as 101 minus the shown value"),
      Flag("HDP", "EmbedThumbnail", "1", "embed a thumbnail in JPEG XR"),
      Ranged("HDP", "16Bit", "2", 0, 2, "16-bit output: 0 off, 1 on, 2 only for 16-bit sources"),
      Ranged("TIFF", "CompressionMethod", "0", 0, 3, "TIFF compression: 0 none, 1 LZW, 2 ZIP, 3 LZW with differencing"),
      Flag("TIFF", "EmbedThumbnail", "1", "embed a thumbnail in TIFF"),
      Ranged("TIFF", "16Bit", "2", 0, 2, "16-bit output: 0 off, 1 on, 2 only for 16-bit sources"),
      Flag("TIFF", "IndexColor", "1", "write TIFF with 256 colours or fewer as indexed"),
      Described("Convert", "(rows)", 'S', "\".bmp=.bmp\" ... \"未定義=.jpg\"", "conversion table, one line per row: input extensions=output extension (\"未定義\": every other extension)"),
      // Metadata
      Flag("Metadata", "KeepICCProfile", "1", "copy the ICC profile into the output"),
      Flag("Metadata", "KeepCreationTime", "0", "copy the creation time (Linux cannot set it: no effect)"),
      Flag("Metadata", "KeepLastWriteTime", "0", "give the output the source's modification time"),
      Ranged("Metadata", "Resolution", "72", 0, 9999, "resolution written when KeepResolution is off (dpi)"),
      Flag("Metadata", "KeepResolution", "1", "keep the source's resolution"),
      Flag("Metadata", "AlwaysCopyMakerNote", "0", "copy the maker note even when offsets cannot be kept"),
      Flag("Metadata", "KeepAllExtraMarker", "0", "copy every other JPEG marker segment"),
      Flag("Metadata", "UpdateSoftwareTag", "1", "write this program's name into the Exif Software tag"),
      Flag("Metadata", "UpdateTimestampFromExif", "0", "give the output the Exif date as its modification time"),
      // Preview, plug-ins, colour
      Key("Preview", "ViewerPath", 'S', "", "image viewer of the window application"),
      Key("Preview", "ViewerOption", 'S', "/getclip /user=tessivo", "viewer arguments"),
      Key("Preview", "ViewerOption2", 'S', "/getclip /newwnd /user=tessivo", "viewer arguments, new window"),
      Key("Preview", "Width", 'I', "800", "preview window width"),
      Key("Preview", "Height", 'I', "600", "preview window height"),
      Key("Preview", "Left", 'I', "-1", "preview window position"),
      Key("Preview", "Top", 'I', "-1", "preview window position"),
      Key("Preview", "HistogramType", 'I', "0", "preview histogram kind"),
      Key("Preview", "HistogramChannel", 'I', "0", "preview histogram channel"),
      Key("Preview", "ResizeMode", 'I', "2", "preview scaling"),
      Key("Preview", "ViewMode", 'I', "1", "preview zoom"),
      Ranged("SPI", "ConvertTo", "3", 0, 3, "images from plug-ins: alpha handling"),
      Key("SPI", "SPIDirectory", 'S', "", "plug-in folder (empty: SusiePlugin/ beside the program); TessivoPlus.cfg wins when it exists"),
      Flag("SPI", "ThreadSafeSPI", "0", "several workers may call one plug-in at once"),
      Key("SPI", "SPIOrder", 'S', "ifraw.spi=1", "image plug-ins in search order, each \"name=1\" (on) or \"name=0\""),
      Key("SPI", "ArchiveSPIOrder", 'S', "axarchive.spi=1", "archive plug-ins in search order, as SPIOrder"),
      Ranged("WIC", "ConvertTo", "2", 0, 3, "images from the system decoders (GIF, TIFF, WebP, HEIF ...): alpha handling"),
      Flag("ColorManagement", "Enabled", "1", "colour management on"),
      Key("ColorManagement", "MonitorProfile", 'S', "", "display profile (empty: the system's, else sRGB)"),
      Key("ColorManagement", "CMYKProfile", 'S', "", "profile for CMYK sources without one"),
      Key("ColorManagement", "WorkSpaceProfile", 'S', "", "working-space profile"),
      Flag("ColorManagement", "CreateICCProfileFromExif", "1", "make a profile from the Exif colour space when there is none"),
      Ranged("ColorManagement", "RenderingIntent", "0", 0, 3, "0 perceptual, 1 relative, 2 saturation, 3 absolute"),
      Key("ColorManagement", "RGBProfile", 'S', "", "profile for RGB sources without one"),
      Key("ColorManagement", "GrayscaleProfile", 'S', "", "profile for gray sources without one"),
      Key("ColorSpaceConvert", "ColorProfileDir", 'S', "", "extra folder of ICC profiles"),
      // Window state, written by the window application
      Key("Window", "Left", 'I', "-1000", "main window position (negative: the designed placement)"),
      Key("Window", "Top", 'I', "-1000", "main window position (negative: the designed placement)"),
      Key("Window", "ClientWidth", 'I', "0", "main window client width (0 or less: the designed size)"),
      Key("Window", "ClientHeight", 'I', "0", "main window client height (0 or less: the designed size)"),
      Flag("ThumbnailWindow", "UseEmbeddedThumbnail", "1", "thumbnails from the embedded Exif thumbnail where there is one"),
      Flag("ThumbnailWindow", "Visible", "1", "the thumbnail window is shown (read only)"),
      Key("ThumbnailWindow", "Left", 'I', "-65535", "thumbnail window offset from the main window"),
      Key("ThumbnailWindow", "Top", 'I', "-65535", "thumbnail window offset from the main window"),
      Described("Dir", "Picture", 'S', "the picture folder", "folder last used by the add-files and add-folder dialogs"),
      Key("Font", "P_FontName", 'S', "", "user-interface font of the window application (empty or not installed: the system's)"),
      Ranged("Dialog", "FormatOptionPage", "0", 0, 6, "last page of the format dialog"),
      Ranged("Dialog", "EnvOptionPage", "0", 0, 5, "last page of the environment dialog (above 5 reads as 0)", R, "0"),
      Flag("ShortCut", "Desktop", "0", "shortcut dialog: create on the desktop (else in the applications menu)"),
      Flag("ShortCut", "MakeIni", "1", "shortcut dialog: save the current settings as the shortcut's profile"),
      Flag("ShortCut", "AtOnce", "0", "shortcut dialog: the profile converts at once"),
      Flag("JPEGTran", "Use", "0", "lossless JPEG mode"),
      Ranged("WEMB", "Rotation", "0", 0, 6, "lossless: 0 none, 1 by the Exif orientation (written as 1), 2 90, 3 180, 4 270 degrees clockwise, 5 mirror left-right, 6 mirror top-bottom"),
      Ranged("WEMB", "ExifOrientation", "0", 0, 8, "lossless: 0 leave the Exif orientation, 1 to 8 write this value"),
      Ranged("WEMB", "OptimizeMode", "-1", -1, 3, "lossless: 0 none, 1 optimised baseline, 2 progressive, 3 whichever is smaller; -1 takes Optimize and Progressizve"),
      Flag("WEMB", "Optimize", "1", "lossless, older key read when OptimizeMode is -1: optimised Huffman tables"),
      Flag("WEMB", "Progressizve", "0", "lossless, older key read when OptimizeMode is -1: progressive coding"),
      Ranged("WEMB", "Grayscale", "0", 0, 2, "lossless: 0 keep colour, 1 every colour JPEG to gray, 2 only when every pixel is gray"),
      Flag("WEMB", "Trimming", "0", "lossless: crop with the trimming step's values"),
      Ranged("WEMB", "ICCProfileRevision", "0", 0, 2, "lossless: 0 none, 1 colour adjustment, 2 tone curve, applied to the ICC profile"),
      Flag("WEMB", "AddText", "0", "lossless: draw the text step, re-encoding only the blocks it touches"),
      Flag("WEMB", "DeleteThumbnail", "0", "lossless: drop the Exif thumbnail"),
      Flag("WEMB", "UpdateThumbnail", "0", "lossless: render the Exif thumbnail anew"),
      Flag("WEMB", "DeleteMakerNote", "0", "lossless: drop the maker note"),
      Flag("WEMB", "DeleteGPSInfo", "0", "lossless: drop the GPS data"),
      Flag("WEMB", "ExifExport", "0", "lossless: write the Exif to ExifExportName"),
      Flag("WEMB", "ICCExport", "0", "lossless: write the ICC profile to ICCExportName"),
      Flag("WEMB", "ExifImport", "0", "lossless: take the Exif from ExifImportName"),
      Flag("WEMB", "ICCImport", "0", "lossless: take the ICC profile from ICCImportName"),
      Key("WEMB", "ExifExportName", 'S', "export\\<name>.dat", "lossless: Exif export file; <name> is the source's name, relative to its folder"),
      Key("WEMB", "ICCExportName", 'S', "export\\<name>.icc", "lossless: ICC export file"),
      Key("WEMB", "ExifImportName", 'S', "<name>.dat", "lossless: Exif import file"),
      Key("WEMB", "ICCImportName", 'S', "<name>.icc", "lossless: ICC import file"),
      Ranged("WEMB", "DeleteType", "0", 0, 1, "lossless: 0 delete the checked segments, 1 delete every APPn and COM segment but the checked"),
      Flag("Combine", "Use", "0", "combine mode (several images into one)"),
      Ranged("Combine", "Width", "320", 1, 9999, "combining: cell width in pixels (RelativeSize 0)"),
      Ranged("Combine", "Height", "240", 1, 9999, "combining: cell height in pixels (RelativeSize 0)"),
      Ranged("Combine", "Percent", "10", 1, 9999, "combining: cell size as a percentage of the page's first image (RelativeSize 1)"),
      Ranged("Combine", "Order", "0", 0, 1, "combining: 0 fill across first (row by row), 1 fill downwards first (column by column)"),
      Ranged("Combine", "Rows", "3", 1, 99, "combining: images across a page"),
      Ranged("Combine", "Columns", "3", 1, 99, "combining: images down a page"),
      Ranged("Combine", "RowSpace", "0", 0, 99, "combining: horizontal gap between neighbouring images, pixels"),
      Ranged("Combine", "ColumnSpace", "0", 0, 99, "combining: vertical gap between neighbouring images, pixels"),
      Ranged("Combine", "BackgroundColor", "16777215", 0, 16777215, "combining: colour of margins and gaps (0x00BBGGRR, working colour space)"),
      Ranged("Combine", "RelativeSize", "0", 0, 1, "combining: 0 cells of Width x Height pixels, 1 cells of Percent of the page's first image"),
      Ranged("Combine", "BlankType", "-1", -1, 2, "combining layout: 0 fit inside the cell with margins, 1 fill the cell and crop, 2 gapless rows (or columns) scaled to a common length; -1 (missing) takes FillBlank"),
      Flag("Combine", "FillBlank", "1", "older switch, read only when BlankType is missing: 1 gapless (BlankType 2), 0 margins (BlankType 0)"),
  };
  T.insert(T.end(), Rest.begin(), Rest.end());
  static const char *const HeaderNames[7] = {"Header0", "Header1", "Header2", "Header3",
                                             "Header4", "Header5", "Header6"};
  for (const char *Name : HeaderNames)
    T.push_back(Key("ListView", Name, 'I', "-1", "width of that column of the list (-1: the designed width)"));
  // Listed whole here, Use and Order included: noise removal joins the chain
  // only where its library is installed, and the reference must not depend on that.
  const TProfileKey Sharpen[] = {
      Flag("UnSharpMask", "Use", "0", "the step is on"),
      Key("UnSharpMask", "Order", 'I', "6", "position of the step in the chain"),
      Ranged("UnSharpMask", "StrengthW", "100", 0, 500, "sharpening strength on the bright side of edges (percent)"),
      Ranged("UnSharpMask", "StrengthB", "100", 0, 500, "sharpening strength on the dark side of edges (percent)"),
      {"UnSharpMask", "Radius", 'F', "1", true, 0.1, 5.0, C, "", "blur radius of the mask (px)"},
      Ranged("UnSharpMask", "Threshold", "0", 0, 255, "differences below this many 8-bit steps are not sharpened"),
      Ranged("UnSharpMask", "Max", "0", 0, 100, "upper limit of the change, percent of StrengthW (0: none)"),
      Ranged("UnSharpMask", "Min", "0", 0, 100, "lower limit of the change, percent of StrengthB (0: none)"),
      Flag("UnSharpMask", "Degamma", "0", "sharpen in linear light"),
      Flag("UnSharpMask", "LumaOnly", "1", "sharpen the luminance only (colour images)"),
      Flag("UnSharpMask", "Lab", "0", "luminance from L* of Lab (with System.EnabledLabMode)"),
      Flag("UnSharpMask", "Preview", "1", "show the sharpening in the preview"),
      Flag("UnSharpMask", "Histogram", "1", "show the histogram in the preview"),
      Flag("Denoise", "Use", "0", "the step is on"),
      Key("Denoise", "Order", 'I', "9", "position of the step in the chain"),
      Ranged("Denoise", "Lv0Sigma", "35", 1, 100, "luminance noise removal at the finest level (with AdvancedSetting)"),
      Ranged("Denoise", "Lv1Sigma", "25", 1, 100, "luminance noise removal at level 1, half size"),
      Ranged("Denoise", "Lv2Sigma", "15", 1, 100, "luminance noise removal at level 2, quarter size"),
      Ranged("Denoise", "Lv3Sigma", "15", 1, 100, "luminance noise removal at level 3, eighth size"),
      Ranged("Denoise", "Lv4Sigma", "15", 1, 100, "luminance noise removal at level 4, sixteenth size"),
      Ranged("Denoise", "ChromaSigma", "40", 1, 100, "chroma noise removal strength"),
      Ranged("Denoise", "LumaSigma2", "50", 1, 100, "spread of the luminance window's spatial weights"),
      Ranged("Denoise", "ChromaSigma2", "50", 1, 100, "spread of the chroma window's spatial weights"),
      Ranged("Denoise", "LumaRadius", "3", 1, 4, "luminance window radius (px)"),
      Ranged("Denoise", "ChromaRadius", "3", 1, 4, "chroma window radius (px)"),
      Flag("Denoise", "AdvancedSetting", "1", "use the values above instead of the preset Str"),
      Ranged("Denoise", "Str", "7", 1, 16, "preset strength, 1 (light) to 16 (strong)"),
      Flag("Denoise", "Preview", "1", "show the noise removal in the preview"),
  };
  T.insert(T.end(), std::begin(Sharpen), std::end(Sharpen));
  return T;
}

// Meanings of the keys every effect section has, and of each effect's own.
const char *EffectKeyMeaning(std::string_view Key) {
  if (Key == "Use") return "the step is on";
  if (Key == "Order") return "position of the step in the chain";
  return nullptr;
}

struct TEffectKeyMeaning {
  const char *Section;
  const char *Key;
  const char *Meaning;
};
constexpr TEffectKeyMeaning EffectMeanings[] = {
    {"RotationFilter", "Type", "0 every image, 1 landscape only, 2 portrait only"},
    {"RotationFilter", "Value", "0 quarter turn right, 1 left, 2 half turn, 3 mirror, 4 flip"},
    {"TrimmingFilter", "Type", "trimming kind (low four bits) and orientation condition (above)"},
    {"TrimmingFilter", "Preview", "show the trimming in the preview"},
    {"TrimmingFilter", "SizeList", "aspect-ratio preset shown in the dialog"},
    {"TrimmingFilter", "Value", "eight size expressions: four for landscape, four for portrait"},
    {"TrimmingFilter", "Style", "older four-value layout: how the values spread to both orientations"},
    {"AddBlankFilter", "BlankType", "margin kind (low four bits) and orientation condition (above)"},
    {"AddBlankFilter", "ColorType", "margin colour: a corner pixel or BlankColor"},
    {"AddBlankFilter", "BlankColor", "fixed margin colour (0x00BBGGRR, -1 unset)"},
    {"AddBlankFilter", "UseFrame1", "draw the inner frame"},
    {"AddBlankFilter", "Frame1Color", "inner frame colour"},
    {"AddBlankFilter", "Frame1Width", "inner frame width (px)"},
    {"AddBlankFilter", "UseFrame2", "draw the middle frame"},
    {"AddBlankFilter", "Frame2Color", "middle frame colour"},
    {"AddBlankFilter", "Frame2Width", "middle frame width (px)"},
    {"AddBlankFilter", "UseFrame3", "draw the outer frame"},
    {"AddBlankFilter", "Frame3Color", "outer frame colour"},
    {"AddBlankFilter", "Frame3Width", "outer frame width (px)"},
    {"AddBlankFilter", "Shadow", "draw a drop shadow"},
    {"AddBlankFilter", "ShadowColor", "shadow colour"},
    {"AddBlankFilter", "ShadowOpacity", "shadow opacity (percent)"},
    {"AddBlankFilter", "ShadowRadius", "shadow blur radius (px)"},
    {"AddBlankFilter", "ShadowStr", "shadow strength"},
    {"AddBlankFilter", "ShadowOffsetX", "shadow offset to the right (px)"},
    {"AddBlankFilter", "ShadowOffsetY", "shadow offset downwards (px)"},
    {"AddBlankFilter", "Preview", "show the margins in the preview"},
    {"AddBlankFilter", "Value", "eight size expressions: four for landscape, four for portrait"},
    {"ColorCorrection", "LumaMin", "-255 to 255: below 0 raises the input black point, above 0 the output black level"},
    {"ColorCorrection", "LumaMax", "-255 to 255: above 0 lowers the input white point, below 0 the output white level"},
    {"ColorCorrection", "Chroma", "-255 to 255: chroma gain ((v + 255) / 255 below 0, (v + 128) / 128 from 0)"},
    {"ColorCorrection", "Hue", "-255 to 255: blue/red balance (blue x (v + 512) / 512, red x (1024 - v) / 1024)"},
    {"ColorCorrection", "Contrast", "-255 to 255: contrast about the middle value"},
    {"ColorCorrection", "RGBGamma", "gamma of red, green and blue, 0.2 to 3.0 (below 0.2 reads as 0.2)"},
    {"ColorCorrection", "YGamma", "gamma of the luma, 0.2 to 3.0 (below 0.2 reads as 0.2)"},
    {"ColorCorrection", "Preview", "the dialog shows a preview"},
    {"ColorCorrection", "Histogram", "the dialog shows the histogram"},
    {"ToneCurve", "RGB", "curve of all three channels: control points x0,y0,x1,y1,... (0 to 255, x rising)"},
    {"ToneCurve", "Red", "curve of red, after the RGB curve"},
    {"ToneCurve", "Green", "curve of green, after the RGB curve"},
    {"ToneCurve", "Blue", "curve of blue, after the RGB curve"},
    {"ToneCurve", "Luma", "curve of the luma (of L* with Lab and System.EnabledLabMode)"},
    {"ToneCurve", "Chroma", "curve of Cb and Cr, 128 being no colour"},
    {"ToneCurve", "Lab", "the luma curve works on CIELAB L* (with System.EnabledLabMode)"},
    {"ToneCurve", "Histogram", "dialog histogram: 0 linear, 1 logarithmic, plus 2 when hidden"},
    {"ToneCurve", "Preview", "the dialog shows a preview"},
    {"Levels", "InputMin%d", "input black point of channel %d (0 luma or L*, 1 red, 2 green, 3 blue), 0 to 255"},
    {"Levels", "InputMax%d", "input white point of channel %d"},
    {"Levels", "ShadowOut%d", "output black level of channel %d"},
    {"Levels", "HighlightOut%d", "output white level of channel %d"},
    {"Levels", "Gamma%d", "midtone gamma of channel %d"},
    {"Levels", "AutoMode", "automatic input range: 0 off, 1 from the luma, 2 per channel, 3 one range for all channels"},
    {"Levels", "ClipShadow", "automatic range: dark pixels clipped, in hundredths of a percent"},
    {"Levels", "ClipHighlight", "automatic range: bright pixels clipped, in hundredths of a percent"},
    {"Levels", "Degamma", "compute in linear light"},
    {"Levels", "Lab", "the luma channel is CIELAB L* (with System.EnabledLabMode)"},
    {"Levels", "Histogram", "dialog histogram: 0 linear, 1 logarithmic, plus 2 when hidden"},
    {"Levels", "Preview", "the dialog shows a preview"},
    {"GrayscaleFilter", "Type", "weights: 0 ITU-R BT.601, 1 ITU-R BT.709, 2 Red/Green/Blue, 3 CIELAB L*"},
    {"GrayscaleFilter", "Red", "custom weight of red in 1/10000 (normalised when the three do not sum to 10000)"},
    {"GrayscaleFilter", "Green", "custom weight of green in 1/10000"},
    {"GrayscaleFilter", "Blue", "custom weight of blue in 1/10000"},
    {"GrayscaleFilter", "Degamma", "weight the channels in linear light"},
    {"GrayscaleFilter", "DecreaseColor", "reduce the result to Color gray levels after all other steps"},
    {"GrayscaleFilter", "Color", "gray levels of the reduction, 2 to 255"},
    {"GrayscaleFilter", "UseCustomPalette", "reduce to the CustomPalette levels (the first Color of them, up to 16)"},
    {"GrayscaleFilter", "CustomPalette%d", "gray level %d of the custom palette, 0 to 255"},
    {"GrayscaleFilter", "Preview", "the dialog shows a preview"},
    {"GrayscaleFilter", "Histogram", "the dialog shows the histogram"},
    {"AddText", "Text", "text with placeholders (<ymd>, <ymdhn>, <old>, <new>, <n3>, ...); \\n is a line break"},
    {"AddText", "FontName", "font name; Windows names map to installed fonts of the same kind"},
    {"AddText", "FontCharset", "character set of the font (128: Japanese)"},
    {"AddText", "FontSize", "font size (points)"},
    {"AddText", "FontColor", "text colour (0x00BBGGRR)"},
    {"AddText", "FontStyle", "style bits: 1 bold, 2 italic, 4 underline, 8 strike-out"},
    {"AddText", "Position", "older anchor key (0 top left, 1 bottom left, 2 top right, else bottom right), read when BasePos is absent"},
    {"AddText", "BasePos", "anchor 0 to 8: column = value div 3, row = value mod 3 (8 bottom right)"},
    {"AddText", "X", "pixels added to the anchored x"},
    {"AddText", "Y", "pixels added to the anchored y"},
    {"AddText", "FontOpacity", "text opacity (percent)"},
    {"AddText", "BackColor", "background box colour"},
    {"AddText", "BackOpacity", "background box opacity (percent, 0 no box)"},
    {"AddText", "MarginX", "horizontal margin around the text (px)"},
    {"AddText", "MarginY", "vertical margin around the text (px)"},
    {"AddText", "LinePitch", "extra space between lines (px)"},
    {"AddText", "Shadow", "draw a drop shadow"},
    {"AddText", "ShadowColor", "shadow colour"},
    {"AddText", "ShadowOpacity", "shadow opacity (percent)"},
    {"AddText", "ShadowRadius", "shadow blur radius (px)"},
    {"AddText", "ShadowStr", "shadow strength"},
    {"AddText", "ShadowOffsetX", "shadow offset to the right (px)"},
    {"AddText", "ShadowOffsetY", "shadow offset downwards (px)"},
    {"AddText", "Glow", "draw a glow around the text"},
    {"AddText", "GlowColor", "glow colour"},
    {"AddText", "GlowOpacity", "glow opacity (percent)"},
    {"AddText", "GlowRadius", "glow blur radius (px)"},
    {"AddText", "GlowStr", "glow strength"},
    {"Composite", "Mode", "0 the image file over the picture, 1 the picture over the image file"},
    {"Composite", "ImageFileName", "the image file laid over or under the picture"},
    {"Composite", "BasePos", "anchor 0 to 8: column = value div 3, row = value mod 3 (4 centre)"},
    {"Composite", "OffsetX", "pixels added to the anchored x"},
    {"Composite", "OffsetY", "pixels added to the anchored y"},
    {"Composite", "Opacity", "opacity of the laid-over image (percent)"},
    {"DeDistortionFilter", "Mode", "correction mode: 0 fisheye lens"},
    {"DeDistortionFilter", "Tool", "reprojection tool: 0 bin/PTStitcherNG, 1 bin/dedistortion (the one present when the other is missing)"},
    {"DeDistortionFilter", "SrcProjection", "source projection: 0 equidistant circular, 1 equidistant full frame, 2 equisolid, 3 orthographic"},
    {"DeDistortionFilter", "SrcHFOV", "horizontal angle of view of the source, degrees"},
    {"DeDistortionFilter", "DestProjection", "result projection: 0 rectilinear, 1 cylindrical, 2 equirectangular, 3 Panini, 4 equidistant fisheye, 5 equisolid fisheye"},
    {"DeDistortionFilter", "DestHFOV", "horizontal angle of view of the result, degrees (rectilinear: at most 179)"},
    {"DeDistortionFilter", "Width", "size expression of the result width over w and h, the picture's size (at least 500 is drawn)"},
    {"DeDistortionFilter", "Height", "size expression of the result height"},
    {"DeDistortionFilter", "Roll", "roll, degrees (positive turns the picture clockwise in the result)"},
    {"DeDistortionFilter", "Pitch", "pitch, degrees (positive puts the picture higher in the result)"},
    {"DeDistortionFilter", "Yaw", "yaw, degrees (positive puts the picture further right in the result)"},
    {"DecreaseColor", "Mode", "tool: 1 bin/FLAXC (with bin/Zone_BorderOfColor.so), 2 bin/IZYINS, 3 bin/pngnqi; a missing tool gives way to the first one present in that order, and with none the step is off"},
    {"DecreaseColor", "PaletteEntries", "colours of the palette, 2 to 256"},
    {"DecreaseColor", "DitherType", "dither: 0 none, 1 gPeanos (FLAXC), 2 error diffusion, 3 averaged error (FLAXC, IZYINS), 4 drawings: flat areas stay one colour (FLAXC)"},
    {"DecreaseColor", "DitherStr", "dither strength 0 to 10 (FLAXC, IZYINS)"},
    {"DecreaseColor", "TransparentType", "FLAXC, IZYINS: the colour of this pixel keeps its own palette entry: 0 none, 1 top left, 2 bottom left, 3 top right, 4 bottom right"},
    {"DecreaseColor", "Quality", "pngnqi quality 1 to 10 (its speed is 11 minus this)"},
    {"DecreaseColor", "Option", "further options of FLAXC and IZYINS (see bin/FLAXC --help)"},
    {"ColorSpaceConvert", "OutputProfile", "the profile converted into: built-in sRGB Profile, built-in sGray Profile, or an ICC profile file (a file that has gone becomes built-in sGray Profile)"},
    {"ColorSpaceConvert", "RenderingIntent", "rendering intent: 0 perceptual, 1 relative colorimetric, 2 saturation, 3 absolute colorimetric"},
    {"ColorSpaceConvert", "RemoveAlpha", "flatten the alpha channel onto the background colour after the conversion"},
    {"ColorSpaceConvert", "Preview", "the dialog shows a preview"},
    {"ColorSpaceConvert", "Histogram", "the dialog shows the histogram"},
};

// A meaning row's key: the key itself, or a name ending in "%d" that stands
// for the numbered keys of that name ("Gamma%d": "Gamma0" to "Gamma3").
bool KeyMatches(std::string_view Pattern, std::string_view Key) {
  if (!Pattern.ends_with("%d")) return SameTextAscii(Pattern, Key);
  const std::string_view Stem = Pattern.substr(0, Pattern.size() - 2);
  if (Key.size() <= Stem.size() || !SameTextAscii(Stem, Key.substr(0, Stem.size()))) return false;
  return std::all_of(Key.begin() + std::ptrdiff_t(Stem.size()), Key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The meaning of a numbered key with its number in the place of "%d".
std::string NumberedMeaning(const TEffectKeyMeaning &M, std::string_view Key) {
  std::string Text = M.Meaning;
  const std::string_view Pattern = M.Key;
  if (!Pattern.ends_with("%d")) return Text;
  const std::string Number(Key.substr(Pattern.size() - 2));
  for (size_t p; (p = Text.find("%d")) != std::string::npos;) Text.replace(p, 2, Number);
  return Text;
}

std::string NumberText(double V) { return FloatToIniText(V); }

std::string RangeText(const TProfileKey &K) { return NumberText(K.Min) + " to " + NumberText(K.Max); }

bool ParseInteger(std::string_view Text, double &V) {
  if (!TryParseDecimal(Text, V)) return false;
  return std::floor(V) == V;
}

}  // namespace

const std::vector<TProfileKey> &ProfileKeyTable() {
  static const std::vector<TProfileKey> Table = MakeTable();
  return Table;
}

std::vector<TProfileKey> ProfileKeysRead(const std::vector<TIniKeyRead> &Readers) {
  std::vector<TProfileKey> Keys = ProfileKeyTable();
  // Texts of keys known only from the readers live as long as the program.
  static std::set<std::string> Texts;
  auto Keep = [](const std::string &S) { return Texts.insert(S).first->c_str(); };
  for (const TIniKeyRead &R : Readers) {
    if (FindProfileKey(Keys, R.Section, R.Ident)) continue;
    const char *Meaning = EffectKeyMeaning(R.Ident);
    for (const auto &M : EffectMeanings)
      if (SameTextAscii(M.Section, R.Section) && KeyMatches(M.Key, R.Ident)) Meaning = Keep(NumberedMeaning(M, R.Ident));
    TProfileKey K{Keep(R.Section), Keep(R.Ident), R.Type, Keep(R.Default), R.Type == 'B', 0, 1, TOutOfRange::Clamp,
                  "", Meaning ? Meaning : ""};
    Keys.push_back(K);
  }
  return Keys;
}

const TProfileKey *FindProfileKey(const std::vector<TProfileKey> &Keys, std::string_view Section,
                                  std::string_view Key) {
  for (const TProfileKey &K : Keys)
    if (SameTextAscii(K.Section, Section) && SameTextAscii(K.Key, Key)) return &K;
  return nullptr;
}

std::vector<std::string> ClampProfileValues(TMemIniFile &Ini, const std::vector<TProfileKey> &Keys) {
  std::vector<std::string> Warnings;
  for (const TProfileKey &K : Keys) {
    if (!K.HasRange || !Ini.ValueExists(K.Section, K.Key)) continue;
    const std::string Text = Ini.ReadString(K.Section, K.Key, "");
    double V;
    if (K.Type == 'F' ? !TryParseDecimal(Text, V) : !ParseInteger(Text, V)) continue;
    if (V >= K.Min && V <= K.Max) continue;
    std::string Used;
    if (K.OutOfRange == TOutOfRange::ReaderRule) {
      Used = K.ReaderValue;
    } else {
      Used = NumberText(std::clamp(V, K.Min, K.Max));
      // Booleans read any non-zero integer as on; only the stored text changes.
      Ini.WriteString(K.Section, K.Key, K.Type == 'B' ? std::string(V != 0 ? "1" : "0") : Used);
      if (K.Type == 'B') Used = V != 0 ? "1" : "0";
    }
    Warnings.push_back(std::string(K.Section) + "." + K.Key + "=" + Text + " is outside " + RangeText(K) + "; " +
                       Used + " is used");
  }
  return Warnings;
}

std::string CheckProfileValue(const TProfileKey &K, std::string_view Value) {
  const std::string Name = std::string(K.Section) + "." + K.Key;
  double V;
  switch (K.Type) {
    case 'I':
    case 'B':
      if (!ParseInteger(Value, V) || V < INT32_MIN || V > INT32_MAX || (K.HasRange && (V < K.Min || V > K.Max)))
        return Name + " must be an integer" + (K.HasRange ? " from " + RangeText(K) : std::string());
      return "";
    case 'F':
      if (!TryParseDecimal(Value, V) || (K.HasRange && (V < K.Min || V > K.Max)))
        return Name + " must be a number" + (K.HasRange ? " from " + RangeText(K) : std::string());
      return "";
    default:
      return "";
  }
}

std::string ProfileKeysMarkdown(const std::vector<TProfileKey> &Keys) {
  std::string Out =
      "# Profile keys\n"
      "\n"
      "Every key of a settings profile that `tessivo` reads, by section: its type\n"
      "(I integer, B Boolean 0 or 1, F decimal number, S text), its default and\n"
      "the values it accepts. Generated by `tessivo --profile-keys` from the\n"
      "program's own key table and the keys its readers ask for; do not edit by\n"
      "hand. A stored number outside its range is brought into it with a warning;\n"
      "`--set Section.Key=Value` refuses it.\n";
  std::string Section;
  for (const TProfileKey &K : Keys) {
    if (Section != K.Section) {
      Section = K.Section;
      Out += "\n## " + Section + "\n\n| key | type | default | range | meaning |\n|---|---|---|---|---|\n";
    }
    std::string Range = K.HasRange && K.Type != 'B' ? RangeText(K) : std::string();
    if (K.HasRange && K.OutOfRange == TOutOfRange::ReaderRule) Range += " (else " + std::string(K.ReaderValue) + ")";
    std::string Default = K.Default;
    std::string Meaning = K.Meaning;
    for (std::string *S : {&Default, &Meaning}) {
      std::string E;
      for (char c : *S) E += c == '|' ? std::string("\\|") : std::string(1, c);
      *S = E;
    }
    Out += "| " + std::string(K.Key) + " | " + K.Type + " | " + (Default.empty() ? "(empty)" : Default) + " | " +
           Range + " | " + Meaning + " |\n";
  }
  return Out;
}

std::string EffectiveProfileText(const TMemIniFile &Ini, const std::vector<TProfileKey> &Keys) {
  TMemIniFile Out;
  Out.LoadFromBytes(Ini.SaveToBytes());
  for (const TProfileKey &K : Keys) {
    // A default that depends on the machine stays unwritten: the reader works it out.
    if (K.MachineDefault || Out.ValueExists(K.Section, K.Key)) continue;
    Out.WriteString(K.Section, K.Key, K.Default);
  }
  std::string Bytes = Out.SaveToBytes();
  if (Bytes.rfind("\xEF\xBB\xBF", 0) == 0) Bytes.erase(0, 3);
  return Bytes;
}
