// The program-wide engines and the engine sets made from them. The
// program-wide resizers (Resize.h), unsharp-mask and Gaussian-blur engines
// are prototypes: the main thread configures them from the settings and
// copies them, and nothing runs on them. Every consumer (each batch worker,
// the list's thumbnail maker, each preview) runs on a TEngineSet of its own:
// its own pool and its own copies, so that two consumers never share an
// engine or a pool.
#pragma once

#include <cstdint>
#include <memory>

class TMultiThread;
class TResizer;
class TUnsharpMask;
class TGaussianBlur;
class TTransForm;
struct TEffectParams;

extern TUnsharpMask *ProgramUnsharpMask;
extern TGaussianBlur *ProgramGaussianBlur;

// The prototypes: the engines (blur parameter 2) and the three program-wide
// resizers, with ProcessorCount threads per operation.
void CreateBatchObjects(int32_t ProcessorCount);
void FreeBatchObjects();

// One consumer's processing objects. Sets are made on the main thread (the
// prototypes' owner); after that the set belongs to its consumer alone.
class TEngineSet {
public:
  TEngineSet() = default;
  ~TEngineSet();
  TEngineSet(const TEngineSet &) = delete;
  TEngineSet &operator=(const TEngineSet &) = delete;

  // Copies of the prototypes as they are now, without a pool: the engines a
  // run starts with, from which its consumers' sets are made.
  static std::unique_ptr<TEngineSet> FromPrototypes();
  // A set for one consumer: copies of these engines, sized to a pool of its
  // own with PoolSize threads, and a colour transform on that pool.
  std::unique_ptr<TEngineSet> CreateFor(int32_t PoolSize) const;
  // Points Params at the engines and the pool (the set keeps owning them).
  void Bind(TEffectParams &Params) const;

  std::unique_ptr<TMultiThread> MT;
  std::unique_ptr<TResizer> Resizer;
  std::unique_ptr<TResizer> Antialiasing;
  std::unique_ptr<TResizer> ThumbnailResizer;
  std::unique_ptr<TUnsharpMask> UnSharpMask;
  std::unique_ptr<TGaussianBlur> GaussianBlur;
  std::unique_ptr<TTransForm> ColorTransform;
};
