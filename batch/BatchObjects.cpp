// The program-wide processing objects of the batch.
#include "batch/BatchObjects.h"

#include "color/ICCUtil.h"
#include "core/MultiThread.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"

#include <algorithm>

TMultiThread *ProgramMultiThread = nullptr;
TUnsharpMask *ProgramUnsharpMask = nullptr;
TGaussianBlur *ProgramGaussianBlur = nullptr;
TTransForm *ProgramColorTransform = nullptr;

void CreateBatchObjects(int32_t ProcessorCount) {
  FreeBatchObjects();
  const int32_t P = std::max(1, ProcessorCount);
  ProgramMultiThread = new TMultiThread(P);
  ProgramUnsharpMask = new TUnsharpMask;
  ProgramUnsharpMask->SetMaxThreadNum(P);
  ProgramGaussianBlur = new TGaussianBlur;
  ProgramGaussianBlur->SetGauusianBlurParam(2);
  ProgramGaussianBlur->SetMaxThread(P);
  ProgramColorTransform = new TTransForm;
  ProgramColorTransform->SetMultiThread(ProgramMultiThread);
  CreateProgramResizers(P);
}

void FreeBatchObjects() {
  FreeProgramResizers();
  delete ProgramColorTransform;
  delete ProgramGaussianBlur;
  delete ProgramUnsharpMask;
  delete ProgramMultiThread;
  ProgramColorTransform = nullptr;
  ProgramGaussianBlur = nullptr;
  ProgramUnsharpMask = nullptr;
  ProgramMultiThread = nullptr;
}
