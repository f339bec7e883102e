// The program-wide processing objects a single batch worker uses as they are
// and several workers copy: the thread pool, the unsharp-mask and
// Gaussian-blur engines and the colour transform (the resizers are the
// program-wide ones of Resize.h). Created at start-up, freed at the end.
#pragma once

#include <cstdint>

class TMultiThread;
class TUnsharpMask;
class TGaussianBlur;
class TTransForm;

extern TMultiThread *ProgramMultiThread;
extern TUnsharpMask *ProgramUnsharpMask;
extern TGaussianBlur *ProgramGaussianBlur;
extern TTransForm *ProgramColorTransform;

// Pool of ProcessorCount threads, the engines (blur parameter 2), the
// transform on that pool, and the three program-wide resizers.
void CreateBatchObjects(int32_t ProcessorCount);
void FreeBatchObjects();
