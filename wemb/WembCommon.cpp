// Callbacks, error handling and the write-callback destination shared by the
// entry points of libwemb.so.
#include "wemb/WembInternal.h"

#include <cstring>

namespace wemb {
namespace {

TWembWriteProc GWrite = nullptr;
TWembMessageProc GMessage = nullptr;

void OnErrorExit(j_common_ptr Info) {
  char text[JMSG_LENGTH_MAX];
  Info->err->format_message(Info, text);
  throw TWembError(text);
}

void OnEmitMessage(j_common_ptr Info, int Level) {
  if (Level >= 0) return;  // trace messages
  auto *err = reinterpret_cast<TErrorManager *>(Info->err);
  if (err->FirstWarning.empty()) {
    char text[JMSG_LENGTH_MAX];
    Info->err->format_message(Info, text);
    err->FirstWarning = text;
  }
  Info->err->num_warnings++;
}

void OnOutputMessage(j_common_ptr) {}

}  // namespace

void ShowMessage(const std::string &Text) {
  if (GMessage) GMessage(MessageCaption, Text.c_str());
  else std::fprintf(stderr, "%s: %s\n", MessageCaption, Text.c_str());
}

void TErrorManager::Attach(jpeg_common_struct &Info) {
  Info.err = jpeg_std_error(&Pub);
  Pub.error_exit = OnErrorExit;
  Pub.emit_message = OnEmitMessage;
  Pub.output_message = OnOutputMessage;
}

TDecoder::TDecoder(const uint8_t *Bytes, uint32_t Count) {
  Err.Attach(*reinterpret_cast<jpeg_common_struct *>(&Info));
  jpeg_create_decompress(&Info);
  // An empty buffer is refused by jpeg_mem_src itself; the destructor does not
  // run for a constructor that throws, so the decoder is released here.
  try {
    jpeg_mem_src(&Info, Bytes, Count);
  } catch (...) {
    jpeg_destroy_decompress(&Info);
    throw;
  }
}

TDecoder::~TDecoder() { jpeg_destroy_decompress(&Info); }

void TDecoder::ReadHeader() {
  jpeg_read_header(&Info, TRUE);
  if (Info.arith_code) throw TWembError("arithmetic-coded JPEG is not supported");
  CheckWarnings();
}

void TDecoder::CheckWarnings() const {
  if (!Err.FirstWarning.empty()) throw TWembError(Err.FirstWarning);
}

TEncoder::TEncoder(void *Out, std::vector<uint8_t> *Collect) {
  if (!GWrite && !Collect) throw TWembError("init_jpegtran was not called");
  Err.Attach(*reinterpret_cast<jpeg_common_struct *>(&Info));
  jpeg_create_compress(&Info);
  FDest.Out = Out;
  FDest.Collect = Collect;
  FDest.Buffer.resize(1 << 16);
  FDest.Pub.init_destination = InitDest;
  FDest.Pub.empty_output_buffer = EmptyBuffer;
  FDest.Pub.term_destination = TermDest;
  Info.dest = &FDest.Pub;
  Info.client_data = &FDest;
}

TEncoder::~TEncoder() { jpeg_destroy_compress(&Info); }

void TEncoder::Flush(TDest &Dest, size_t Count) {
  if (Count == 0) return;
  if (Dest.Collect) {
    Dest.Collect->insert(Dest.Collect->end(), Dest.Buffer.data(), Dest.Buffer.data() + Count);
    return;
  }
  if (GWrite(Dest.Out, Dest.Buffer.data(), intptr_t(Count)) != intptr_t(Count))
    throw TWembError("the output stream refused the data");
}

void TEncoder::InitDest(j_compress_ptr Info) {
  auto &d = *static_cast<TDest *>(Info->client_data);
  d.Pub.next_output_byte = d.Buffer.data();
  d.Pub.free_in_buffer = d.Buffer.size();
}

boolean TEncoder::EmptyBuffer(j_compress_ptr Info) {
  auto &d = *static_cast<TDest *>(Info->client_data);
  Flush(d, d.Buffer.size());
  d.Pub.next_output_byte = d.Buffer.data();
  d.Pub.free_in_buffer = d.Buffer.size();
  return TRUE;
}

void TEncoder::TermDest(j_compress_ptr Info) {
  auto &d = *static_cast<TDest *>(Info->client_data);
  Flush(d, d.Buffer.size() - d.Pub.free_in_buffer);
}

void WriteToStream(void *Out, const std::vector<uint8_t> &Bytes) {
  if (!GWrite) throw TWembError("init_jpegtran was not called");
  if (!Bytes.empty() && GWrite(Out, Bytes.data(), intptr_t(Bytes.size())) != intptr_t(Bytes.size()))
    throw TWembError("the output stream refused the data");
}

void SaveAllMarkers(jpeg_decompress_struct &Src) {
  jpeg_save_markers(&Src, JPEG_COM, 0xFFFF);
  for (int m = 0; m < 16; ++m) jpeg_save_markers(&Src, JPEG_APP0 + m, 0xFFFF);
}

void CopySavedMarkers(const jpeg_decompress_struct &Src, jpeg_compress_struct &Dst) {
  for (jpeg_saved_marker_ptr m = Src.marker_list; m; m = m->next) {
    if (Dst.write_JFIF_header && m->marker == JPEG_APP0 && m->data_length >= 5 && !std::memcmp(m->data, "JFIF", 5))
      continue;
    if (Dst.write_Adobe_marker && m->marker == JPEG_APP0 + 14 && m->data_length >= 5 &&
        !std::memcmp(m->data, "Adobe", 5))
      continue;
    jpeg_write_marker(&Dst, m->marker, m->data, m->data_length);
  }
}

}  // namespace wemb

using namespace wemb;

extern "C" int init_jpegtran(TWembWriteProc Write, TWembMessageProc Message) {
  GWrite = Write;
  GMessage = Message;
  return Write != nullptr;
}
