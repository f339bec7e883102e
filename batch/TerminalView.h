// The terminal view of a batch: a one-line progress bar on standard error
// (files done of the total, MPix/s, elapsed and estimated remaining time,
// the file being started), redrawn in place on a terminal and left out when
// standard error is not one.
#pragma once

#include "batch/ProgressFrm.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

class TTerminalView : public TProgressView {
public:
  // Out is the stream drawn on; Interactive false draws nothing but warnings.
  TTerminalView(FILE *Out, bool Interactive);

  void NamingStarted() override;
  void ConvertStarted(int32_t OutputFileCount, int32_t Workers) override;
  void ShowProgress(const TProgressSnapshot &State) override;
  void ShowLabel(const std::string &Text) override;
  void Warning(const std::string &Text) override;
  void PauseChanged(bool Paused) override;
  void Idle(const TProgressSnapshot &State) override;
  void Closed(int32_t ModalResult, const std::string &ResultText) override;

  // Set from a signal handler; the next idle call asks the run to stop.
  void SetController(TRunControl *Form) { FForm = Form; }
  // Called on the next idle call after a second stop request: the files in
  // progress are abandoned (the program ends there).
  std::function<void()> OnAbandon;
  static std::atomic<int> StopRequests;
  static std::atomic<int> PauseRequests;

  // The bar line for a state, Width columns wide (for tests and the view).
  static std::string FormatLine(const TProgressSnapshot &State, int32_t Width);

private:
  void Draw(const TProgressSnapshot &State, bool Force);
  void ClearLine();
  FILE *FOut;
  bool FInteractive;
  TRunControl *FForm = nullptr;
  uint64_t FLastDraw = 0;
  int FHandledStops = 0;
  int FHandledPauses = 0;
  bool FDrawn = false;
  std::string FLabel;
};

// "mm:ss", or "h:mm:ss" from an hour on.
std::string FormatClock(uint64_t Milliseconds);
