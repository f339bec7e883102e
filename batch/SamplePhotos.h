// Sample photos for the demo, the end-to-end tests and the batch benchmark:
// photo-like JPEG files (sky, hills, sun and sensor noise, so that they
// compress like camera pictures) with an Exif block holding the camera,
// the shooting date, the pixel dimensions and the orientation, encoded by
// the codec library. The library must be loaded (LoadPixio).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Width x Height is the stored size. With an orientation of 2 to 8 the
// landscape is painted upright as a viewer shows it and stored turned, as a
// camera held on its side stores it (5 to 8: the picture is Height x Width).
struct TSamplePhotoSpec {
  uint32_t Width = 1600;
  uint32_t Height = 1200;
  uint16_t Orientation = 1;      // Exif orientation 1 to 8; 0 writes no Exif at all
  std::string DateTimeOriginal;  // "YYYY:MM:DD HH:MM:SS"; empty: none
  int32_t Quality = 92;
  bool Subsample420 = true;      // 4:2:0, else 4:4:4
  uint32_t Seed = 1;
  std::string MakerNote;         // bytes of the Exif maker note; empty: none
};

// The TIFF structure of the Exif block ("MM" byte order).
std::vector<uint8_t> MakeSampleExif(const TSamplePhotoSpec &Desc);
// Writes the photo; raises ETessivoError when it cannot.
void WriteSamplePhoto(const std::string &Path, const TSamplePhotoSpec &Desc);
