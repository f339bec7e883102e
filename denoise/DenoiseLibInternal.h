// The tables of the library's code paths, one filler per instruction set.
#pragma once

#include "denoise/DenoiseApi.h"

void FillPlainDenoiseTable(TDenoiseProc *Table);  // DNP_SSE2_COUNT entries
void FillSSE2DenoiseTable(TDenoiseProc *Table);   // DNP_SSE2_COUNT entries
void FillAVX2DenoiseTable(TDenoiseProc *Table);   // DNA_AVX_COUNT entries
