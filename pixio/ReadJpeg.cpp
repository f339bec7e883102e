// JPEG decoding over libjpeg-turbo: scaled decoding (1/2, 1/4, 1/8), DCT method
// choice, B,G,R or undecoded Y,Cb,Cr output, CMYK as stored (Adobe inversion
// flagged), and the source's sampling and quantisation tables on request.
#include "pixio/PixioInternal.h"

#include <cstdio>
#include <csetjmp>
#include <cstdlib>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace pixio {

namespace {

struct ErrorMgr {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
  bool Reported;
};

void OnErrorExit(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<ErrorMgr *>(cinfo->err);
  cinfo->err->format_message(cinfo, err->Message);
  longjmp(err->Jump, 1);
}

// Warnings are passed on once per file; running out of data is fatal, since
// libjpeg would otherwise pad a truncated file with gray rows and succeed.
void OnEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  auto *err = reinterpret_cast<ErrorMgr *>(cinfo->err);
  cinfo->err->num_warnings++;
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
    cinfo->err->format_message(cinfo, err->Message);
    longjmp(err->Jump, 1);
  }
  if (!err->Reported) {
    char buf[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, buf);
    ReportMessage("JPEG", buf);
    err->Reported = true;
  }
}

// A progressive file can hold any number of scans, each costing a pass over
// the whole coefficient buffer; real encoders write a dozen or so.
constexpr int MaxScans = 1000;

void OnProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > MaxScans) {
    auto *err = reinterpret_cast<ErrorMgr *>(cinfo->err);
    std::snprintf(err->Message, sizeof err->Message, "too many progressive scans");
    longjmp(err->Jump, 1);
  }
}

struct Decompressor {
  jpeg_decompress_struct Cinfo{};
  ErrorMgr Err{};
  jpeg_progress_mgr Progress{};
  bool Created = false;
  ~Decompressor() {
    if (Created) jpeg_destroy_decompress(&Cinfo);
  }
};

// Reads the header and sets the output parameters; false after a libjpeg error.
bool StartDecode(Decompressor &d, std::span<const uint8_t> Data, const TPixioDecode &Info) {
  if (setjmp(d.Err.Jump)) return false;
  jpeg_mem_src(&d.Cinfo, Data.data(), (unsigned long)Data.size());
  jpeg_save_markers(&d.Cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&d.Cinfo, TRUE);
  j_decompress_ptr c = &d.Cinfo;
  switch (c->jpeg_color_space) {
    case JCS_GRAYSCALE: c->out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: c->out_color_space = JCS_CMYK; break;
    case JCS_YCbCr: c->out_color_space = Info.WantYCbCr ? JCS_YCbCr : JCS_EXT_BGR; break;
    default: c->out_color_space = JCS_EXT_BGR; break;
  }
  const int denom = Info.ScaleDenom;
  c->scale_num = 1;
  c->scale_denom = (denom == 2 || denom == 4 || denom == 8) ? denom : 1;
  c->dct_method = Info.DCTMethod == 2 ? JDCT_FLOAT : Info.DCTMethod == 1 ? JDCT_IFAST : JDCT_ISLOW;
  jpeg_calc_output_dimensions(c);
  return true;
}

bool StartOutput(Decompressor &d) {
  if (setjmp(d.Err.Jump)) return false;
  jpeg_start_decompress(&d.Cinfo);
  return true;
}

bool ReadRows(Decompressor &d, JSAMPARRAY rows, JDIMENSION count) {
  if (setjmp(d.Err.Jump)) return false;
  while (d.Cinfo.output_scanline < count) {
    const JDIMENSION at = d.Cinfo.output_scanline;
    if (jpeg_read_scanlines(&d.Cinfo, rows + at, count - at) == 0) {
      std::snprintf(d.Err.Message, sizeof d.Err.Message, "no scanlines delivered");
      return false;
    }
  }
  jpeg_finish_decompress(&d.Cinfo);
  return true;
}

void FillQualityInfo(const jpeg_decompress_struct &c, TPixioQualityInfo &q) {
  std::memset(&q, 0, sizeof q);
  q.HSamp = c.comp_info[0].h_samp_factor;
  q.VSamp = c.comp_info[0].v_samp_factor;
  int count = 0;
  const int comps = c.num_components < 3 ? c.num_components : 3;
  for (int i = 0; i < comps; ++i) {
    const int t = c.comp_info[i].quant_tbl_no;
    if (t < 0 || t > 2 || !c.quant_tbl_ptrs[t]) {
      q.QTCount = 0;  // a layout the re-encoder cannot reproduce
      return;
    }
    q.CompInfo[i][0] = c.comp_info[i].component_id;
    q.CompInfo[i][1] = t;
    if (t + 1 > count) count = t + 1;
  }
  for (int t = 0; t < count; ++t) {
    if (!c.quant_tbl_ptrs[t]) continue;
    for (int k = 0; k < DCTSIZE2; ++k) q.QT[t][k] = c.quant_tbl_ptrs[t]->quantval[k];
  }
  q.QTCount = count;
}

bool ReadProfile(Decompressor &d, JOCTET **data, unsigned *len) {
  if (setjmp(d.Err.Jump)) return false;
  if (!jpeg_read_icc_profile(&d.Cinfo, data, len)) *data = nullptr;
  return true;
}

}  // namespace

void DecodeJpeg(TPixioDecode &Info, std::span<const uint8_t> Data, bool TopDown) {
  if (Data.size() < 4 || Data[0] != 0xFF || Data[1] != 0xD8) throw DecodeError("not a JPEG file");
  if (Data.size() > 0xFFFFFFFFu) throw DecodeError("file is too large");
  Decompressor d;
  d.Cinfo.err = jpeg_std_error(&d.Err.Pub);
  d.Err.Pub.error_exit = OnErrorExit;
  d.Err.Pub.emit_message = OnEmitMessage;
  jpeg_create_decompress(&d.Cinfo);
  d.Created = true;
  d.Progress.progress_monitor = OnProgress;
  d.Cinfo.progress = &d.Progress;

  if (!StartDecode(d, Data, Info)) throw DecodeError(d.Err.Message);
  j_decompress_ptr c = &d.Cinfo;
  if (Info.WantQualityInfo && Info.QualityInfo) FillQualityInfo(*c, *Info.QualityInfo);

  // Every output row is written, so a spare block needs no clearing.
  AllocImage(Info, c->output_width, c->output_height, uint32_t(c->out_color_components), 8, &Info.SpareMem);
  if (uint32_t(c->out_color_components) != Info.Channels) throw DecodeError("unexpected component count");
  Info.IsYCbCr = c->out_color_space == JCS_YCbCr;
  Info.IsCMYK = c->out_color_space == JCS_CMYK;
  Info.IsInvertedCMYK = Info.IsCMYK && c->saw_Adobe_marker;
  if (c->saw_JFIF_marker && c->X_density && c->Y_density) {
    Info.XResolution = c->X_density;
    Info.YResolution = c->Y_density;
    Info.ResolutionUnit = c->density_unit == 1 ? 1 : c->density_unit == 2 ? 2 : 0;
  }

  JOCTET *icc = nullptr;
  unsigned iccLen = 0;
  if (!ReadProfile(d, &icc, &iccLen)) throw DecodeError(d.Err.Message);
  if (icc) {
    try {
      AttachProfile(Info, icc, iccLen);
    } catch (...) {
      std::free(icc);
      throw;
    }
    std::free(icc);
  }

  if (!StartOutput(d)) throw DecodeError(d.Err.Message);
  if (c->output_width != Info.Width || c->output_height != Info.Height)
    throw DecodeError("output size changed");
  std::vector<JSAMPROW> rows(Info.Height);
  for (uint32_t y = 0; y < Info.Height; ++y) rows[y] = Row(Info, y, TopDown);
  if (!ReadRows(d, rows.data(), Info.Height)) throw DecodeError(d.Err.Message);
}

}  // namespace pixio
