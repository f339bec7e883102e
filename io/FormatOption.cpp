// The program-wide format option records with their defaults.
#include "io/FormatOption.h"

TJPEGOption JPEGOption;
TBitmapOption BitmapOption;
TPNGOption PNGOption;
TTIFFOption TIFFOption;
THDPOption HDPOption;
TMetadataOption MetadataOption;
uint32_t Background = DEFAULT_BACKGROUND;

TFormatOptions CurrentFormatOptions() {
  TFormatOptions O;
  O.JPEG = JPEGOption;
  O.Bitmap = BitmapOption;
  O.PNG = PNGOption;
  O.TIFF = TIFFOption;
  O.HDP = HDPOption;
  O.Metadata = MetadataOption;
  O.Background = Background;
  return O;
}
