// Reading a JPEG file's coefficients with libjpeg for the tests.
#include "wemb/tests/CoefTestUtil.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

static_assert(sizeof(JCOEF) == sizeof(int16_t) && DCTSIZE2 == wembtest::COEF_BLOCK);

namespace wembtest {
namespace {
struct TJumpError {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
};
void JumpOnError(j_common_ptr Info) { longjmp(reinterpret_cast<TJumpError *>(Info->err)->Jump, 1); }
void Quiet(j_common_ptr) {}
}  // namespace

TCoefficients ReadCoefficients(const std::string &Bytes) {
  TCoefficients out;
  jpeg_decompress_struct s{};
  TJumpError err{};
  s.err = jpeg_std_error(&err.Pub);
  err.Pub.error_exit = JumpOnError;
  err.Pub.output_message = Quiet;
  jpeg_create_decompress(&s);
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&s);
    return TCoefficients{};
  }
  jpeg_mem_src(&s, reinterpret_cast<const unsigned char *>(Bytes.data()), (unsigned long)Bytes.size());
  jpeg_read_header(&s, TRUE);
  jvirt_barray_ptr *arrays = jpeg_read_coefficients(&s);
  const bool single = s.num_components == 1;
  out.ImageWidth = s.image_width;
  out.ImageHeight = s.image_height;
  out.CellW = DCTSIZE * s.max_h_samp_factor / (single ? s.comp_info[0].h_samp_factor : 1);
  out.CellH = DCTSIZE * s.max_v_samp_factor / (single ? s.comp_info[0].v_samp_factor : 1);
  out.CellsX = (s.image_width + out.CellW - 1) / out.CellW;
  out.CellsY = (s.image_height + out.CellH - 1) / out.CellH;
  for (int c = 0; c < s.num_components; ++c) {
    const jpeg_component_info &ci = s.comp_info[c];
    TCoefComponent k;
    k.H = single ? 1 : ci.h_samp_factor;
    k.V = single ? 1 : ci.v_samp_factor;
    k.Width = out.CellsX * k.H;
    k.Height = out.CellsY * k.V;
    k.Coef.resize(size_t(k.Width) * k.Height * DCTSIZE2);
    for (uint32_t y = 0; y < k.Height; ++y) {
      JBLOCKARRAY row = (*s.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&s), arrays[c], y, 1, FALSE);
      std::memcpy(k.Coef.data() + size_t(y) * k.Width * DCTSIZE2, row[0], sizeof(JBLOCK) * k.Width);
    }
    out.Comp.push_back(std::move(k));
    const JQUANT_TBL *q = ci.quant_table ? ci.quant_table : s.quant_tbl_ptrs[ci.quant_tbl_no];
    out.Quant.emplace_back(q ? std::vector<uint16_t>(q->quantval, q->quantval + DCTSIZE2) : std::vector<uint16_t>{});
  }
  jpeg_finish_decompress(&s);
  jpeg_destroy_decompress(&s);
  out.Ok = true;
  return out;
}

}  // namespace wembtest
