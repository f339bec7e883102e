// The program-wide format option records with their defaults.
#include "io/FormatOption.h"

TJPEGOption JPEGOption;
TBitmapOption BitmapOption;
TPNGOption PNGOption;
TTIFFOption TIFFOption;
THDPOption HDPOption;
TMetadataOption MetadataOption;
uint32_t Background = DEFAULT_BACKGROUND;
