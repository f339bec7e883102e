// The program-wide engine prototypes and the per-consumer engine sets.
#include "batch/BatchObjects.h"

#include "color/ICCUtil.h"
#include "core/MultiThread.h"
#include "effects/Effect.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"

#include <algorithm>

TUnsharpMask *ProgramUnsharpMask = nullptr;
TGaussianBlur *ProgramGaussianBlur = nullptr;

void CreateBatchObjects(int32_t ProcessorCount) {
  FreeBatchObjects();
  const int32_t P = std::max(1, ProcessorCount);
  ProgramUnsharpMask = new TUnsharpMask;
  ProgramUnsharpMask->SetMaxThreadNum(P);
  ProgramGaussianBlur = new TGaussianBlur;
  ProgramGaussianBlur->SetGauusianBlurParam(2);
  ProgramGaussianBlur->SetMaxThread(P);
  CreateProgramResizers(P);
}

void FreeBatchObjects() {
  FreeProgramResizers();
  delete ProgramGaussianBlur;
  delete ProgramUnsharpMask;
  ProgramGaussianBlur = nullptr;
  ProgramUnsharpMask = nullptr;
}

TEngineSet::~TEngineSet() {
  // The transform is bound to the pool, so it goes first.
  ColorTransform.reset();
  MT.reset();
}

namespace {

std::unique_ptr<TResizer> CopyResizer(const TResizer *From, int32_t Threads) {
  if (!From) return nullptr;
  std::unique_ptr<TResizer> R(From->CreateMTResizer());
  if (Threads > 0) R->SetMaxThreadNum(Threads);
  return R;
}

std::unique_ptr<TUnsharpMask> CopyUnsharpMask(const TUnsharpMask *From, int32_t Threads) {
  if (!From) return nullptr;
  std::unique_ptr<TUnsharpMask> U(From->CreateMTUnSharpMask());
  if (Threads > 0) U->SetMaxThreadNum(Threads);
  return U;
}

std::unique_ptr<TGaussianBlur> CopyBlur(const TGaussianBlur *From, int32_t Threads) {
  if (!From) return nullptr;
  std::unique_ptr<TGaussianBlur> G(From->CreateMTGauusinBlur());
  if (Threads > 0) G->SetMaxThread(Threads);
  return G;
}

}  // namespace

std::unique_ptr<TEngineSet> TEngineSet::FromPrototypes() {
  auto S = std::make_unique<TEngineSet>();
  S->Resizer = CopyResizer(::MainResizer, 0);
  S->Antialiasing = CopyResizer(::AntialiasingResizer, 0);
  S->ThumbnailResizer = CopyResizer(::ThumbnailResizer, 0);
  S->UnSharpMask = CopyUnsharpMask(ProgramUnsharpMask, 0);
  S->GaussianBlur = CopyBlur(ProgramGaussianBlur, 0);
  return S;
}

std::unique_ptr<TEngineSet> TEngineSet::CreateFor(int32_t PoolSize) const {
  const int32_t Threads = std::max(1, PoolSize);
  auto S = std::make_unique<TEngineSet>();
  S->MT = std::make_unique<TMultiThread>(Threads);
  S->Resizer = CopyResizer(Resizer.get(), Threads);
  S->Antialiasing = CopyResizer(Antialiasing.get(), Threads);
  S->ThumbnailResizer = CopyResizer(ThumbnailResizer.get(), Threads);
  S->UnSharpMask = CopyUnsharpMask(UnSharpMask.get(), Threads);
  S->GaussianBlur = CopyBlur(GaussianBlur.get(), Threads);
  S->ColorTransform = std::make_unique<TTransForm>();
  S->ColorTransform->SetMultiThread(S->MT.get());
  return S;
}

void TEngineSet::Bind(TEffectParams &Params) const {
  Params.MT = MT.get();
  Params.Resizer = Resizer.get();
  Params.Antialiasing = Antialiasing.get();
  Params.ThumbnailResizer = ThumbnailResizer.get();
  Params.UnSharpMask = UnSharpMask.get();
  Params.GaussianBlur = GaussianBlur.get();
  Params.ColorTransform = ColorTransform.get();
}
