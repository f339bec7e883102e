// write_jpeg and write_thumbnail: encoding decoded pixels again, either with
// a template file's tables and sampling (so that the blocks line up with the
// template's and can be merged into it) or as a small thumbnail.
#include "wemb/WembInternal.h"

#include <algorithm>
#include <cstring>

namespace wemb {
namespace {

J_COLOR_SPACE InputSpace(uint32_t Channels) {
  switch (Channels) {
    case 1: return JCS_GRAYSCALE;
    case 3: return JCS_EXT_BGR;
    case 4: return JCS_CMYK;
    default: throw TWembError("a picture of " + std::to_string(Channels) + " channels cannot be encoded");
  }
}

void CheckImage(const TWembImage &Image) {
  if (!Image.Mem || Image.Width == 0 || Image.Height == 0) throw TWembError("the picture to encode is empty");
  InputSpace(Image.Channels);
  if (Image.Bpl < Image.Width * Image.Channels) throw TWembError("the picture's rows are shorter than its width");
}

// Sets the picture's size and input layout; jpeg_set_defaults follows.
void DescribeInput(jpeg_compress_struct &D, const TWembImage &Image) {
  D.image_width = Image.Width;
  D.image_height = Image.Height;
  D.input_components = int(Image.Channels);
  D.in_color_space = InputSpace(Image.Channels);
  jpeg_set_defaults(&D);
  // The accurate transform: a re-encoded block should decode as close to
  // its pixels as the tables allow.
  D.dct_method = JDCT_ISLOW;
}

// Feeds the rows top-down (the picture stores them bottom-up).
void WriteRows(jpeg_compress_struct &D, const TWembImage &Image) {
  jpeg_start_compress(&D, TRUE);
  while (D.next_scanline < D.image_height) {
    JSAMPROW row = Image.Mem + size_t(Image.Height - 1 - D.next_scanline) * Image.Bpl;
    jpeg_write_scanlines(&D, &row, 1);
  }
  jpeg_finish_compress(&D);
}

void WriteJpeg(const TWembImage &Image, void *Out, const uint8_t *Template, uint32_t TemplateCount) {
  CheckImage(Image);
  TDecoder tpl(Template, TemplateCount);
  tpl.ReadHeader();
  const jpeg_decompress_struct &t = tpl.Info;
  if (t.data_precision != 8) throw TWembError("the template is not an 8-bit JPEG");

  TEncoder dst(Out);
  jpeg_compress_struct &d = dst.Info;
  DescribeInput(d, Image);
  jpeg_set_colorspace(&d, t.jpeg_color_space);
  if (d.num_components != t.num_components) throw TWembError("the picture does not fit the template's colour space");
  for (int i = 0; i < NUM_QUANT_TBLS; ++i) {
    if (!t.quant_tbl_ptrs[i]) continue;
    if (!d.quant_tbl_ptrs[i]) d.quant_tbl_ptrs[i] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&d));
    std::memcpy(d.quant_tbl_ptrs[i]->quantval, t.quant_tbl_ptrs[i]->quantval, sizeof t.quant_tbl_ptrs[i]->quantval);
    d.quant_tbl_ptrs[i]->sent_table = FALSE;
  }
  for (int c = 0; c < d.num_components; ++c) {
    const jpeg_component_info &tc = t.comp_info[c];
    jpeg_component_info &dc = d.comp_info[c];
    dc.component_id = tc.component_id;
    dc.h_samp_factor = tc.h_samp_factor;
    dc.v_samp_factor = tc.v_samp_factor;
    dc.quant_tbl_no = tc.quant_tbl_no;
    if (!d.quant_tbl_ptrs[dc.quant_tbl_no]) throw TWembError("the template lacks a quantisation table");
  }
  WriteRows(d, Image);
}

void WriteThumbnail(const TWembImage &Image, void *Out, int32_t Quality) {
  CheckImage(Image);
  TEncoder dst(Out);
  jpeg_compress_struct &d = dst.Info;
  DescribeInput(d, Image);
  jpeg_set_quality(&d, std::clamp(Quality, 1, 100), TRUE);
  if (d.num_components == 3) {
    d.comp_info[0].h_samp_factor = d.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) d.comp_info[c].h_samp_factor = d.comp_info[c].v_samp_factor = 1;
  }
  // An Exif thumbnail has no headers of its own: the Exif block describes it.
  d.write_JFIF_header = FALSE;
  d.write_Adobe_marker = FALSE;
  WriteRows(d, Image);
}

}  // namespace
}  // namespace wemb

extern "C" int write_jpeg(const TWembImage *Image, void *Out, const uint8_t *Template, uint32_t TemplateCount) {
  if (!Image) return 0;
  return wemb::Guarded([&] { wemb::WriteJpeg(*Image, Out, Template, TemplateCount); });
}

extern "C" int write_thumbnail(const TWembImage *Image, void *Out, int32_t Quality) {
  if (!Image) return 0;
  return wemb::Guarded([&] { wemb::WriteThumbnail(*Image, Out, Quality); });
}
