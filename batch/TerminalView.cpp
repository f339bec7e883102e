// Progress of a batch on the terminal.
#include "batch/TerminalView.h"

#include <algorithm>
#include <cstdio>
#include <vector>
#include <sys/ioctl.h>
#include <unistd.h>

std::atomic<int> TTerminalView::StopRequests{0};
std::atomic<int> TTerminalView::PauseRequests{0};

namespace {

int32_t TerminalWidth(FILE *Out) {
  struct winsize ws;
  if (::ioctl(fileno(Out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

// Keeps the last Width display columns of a UTF-8 text (wide characters count two).
std::string TailColumns(const std::string &Text, int32_t Width) {
  if (Width <= 0) return std::string();
  std::vector<std::pair<size_t, int>> Chars;  // start byte, columns
  for (size_t i = 0; i < Text.size();) {
    const auto c = uint8_t(Text[i]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    Chars.push_back({i, n >= 3 ? 2 : 1});
    i += n;
  }
  int32_t Cols = 0;
  size_t k = Chars.size();
  while (k > 0 && Cols + Chars[k - 1].second <= Width) Cols += Chars[--k].second;
  return k == Chars.size() ? std::string() : Text.substr(Chars[k].first);
}

}  // namespace

std::string FormatClock(uint64_t Milliseconds) {
  const uint64_t s = Milliseconds / 1000;
  char Buf[32];
  if (s >= 3600) {
    std::snprintf(Buf, sizeof Buf, "%d:%02d:%02d", int(s / 3600), int(s / 60 % 60), int(s % 60));
  } else {
    std::snprintf(Buf, sizeof Buf, "%02d:%02d", int(s / 60), int(s % 60));
  }
  return Buf;
}

TTerminalView::TTerminalView(FILE *Out, bool Interactive) : FOut(Out), FInteractive(Interactive) {}

std::string TTerminalView::FormatLine(const TProgressSnapshot &S, int32_t Width) {
  const double Seconds = double(S.ElapsedMs) / 1000.0;
  const double Rate = Seconds > 0 ? S.PixelsDone / 1e6 / Seconds : 0;
  std::string Eta = "--:--";
  if (S.Position > 0 && S.Position < PROGRESS_BAR_MAX)
    Eta = FormatClock(uint64_t(double(S.ElapsedMs) * (PROGRESS_BAR_MAX - S.Position) / S.Position));
  else if (S.Position >= PROGRESS_BAR_MAX)
    Eta = "00:00";
  char Stats[160];
  std::snprintf(Stats, sizeof Stats, " %d/%d files  %.1f MPix/s  %s elapsed  ~%s left%s", S.FilesDone,
                S.FilesTotal, Rate, FormatClock(S.ElapsedMs).c_str(), Eta.c_str(),
                S.Stopping ? "  stopping" : S.Paused ? "  paused" : "");
  const int32_t BarWidth = std::clamp(Width / 6, 10, 40);
  const int32_t Filled = BarWidth * S.Position / PROGRESS_BAR_MAX;
  std::string Line(1, '[');
  Line.append(size_t(Filled), '#');
  Line.append(size_t(BarWidth - Filled), '-');
  Line += ']';
  Line += Stats;
  const int32_t Rest = Width - 1 - int32_t(Line.size()) - 2;
  if (!S.Label.empty() && Rest > 4) {
    const std::string Tail = TailColumns(S.Label, Rest);
    Line += "  ";
    Line += Tail.size() == S.Label.size() ? Tail : "…" + TailColumns(S.Label, Rest - 1);
  }
  return Line;
}

void TTerminalView::ClearLine() {
  if (FInteractive && FDrawn) {
    std::fputs("\r\033[K", FOut);
    FDrawn = false;
  }
}

void TTerminalView::Draw(const TProgressSnapshot &State, bool Force) {
  if (!FInteractive) return;
  const uint64_t Now = MillisecondClock();
  if (!Force && Now - FLastDraw < 250) return;
  FLastDraw = Now;
  TProgressSnapshot S = State;
  if (S.Label.empty()) S.Label = FLabel;
  std::fprintf(FOut, "\r\033[K%s", FormatLine(S, TerminalWidth(FOut)).c_str());
  std::fflush(FOut);
  FDrawn = true;
}

void TTerminalView::NamingStarted() {
  if (!FInteractive) return;
  std::fputs("\r\033[Kpreparing output names...", FOut);
  std::fflush(FOut);
  FDrawn = true;
}

void TTerminalView::ConvertStarted(int32_t, int32_t) { ClearLine(); }

void TTerminalView::ShowProgress(const TProgressSnapshot &State) {
  FLabel = State.Label;
  Draw(State, true);
}

void TTerminalView::ShowLabel(const std::string &Text) {
  FLabel = Text;
  if (!FInteractive) return;
  std::fprintf(FOut, "\r\033[K%s", Text.c_str());
  std::fflush(FOut);
  FDrawn = true;
}

void TTerminalView::Warning(const std::string &Text) {
  ClearLine();
  std::fprintf(FOut, "%s\n", Text.c_str());
  std::fflush(FOut);
}

void TTerminalView::PauseChanged(bool Paused) {
  if (!FInteractive) return;
  ClearLine();
  std::fputs(Paused ? "paused (send SIGUSR1 again to resume)\n" : "resumed\n", FOut);
}

void TTerminalView::Idle(const TProgressSnapshot &State) {
  const int Stops = StopRequests.load();
  if (Stops >= 2 && OnAbandon) OnAbandon();
  if (FForm && Stops != FHandledStops) {
    FHandledStops = Stops;
    ClearLine();
    std::fputs("stopping: the files in progress are finished, no other is started\n", FOut);
    FForm->Stop();
  }
  const int Pauses = PauseRequests.load();
  if (FForm && Pauses != FHandledPauses) {
    FHandledPauses = Pauses;
    FForm->TogglePause();
  }
  if (State.Workers > 0) Draw(State, false);
}

void TTerminalView::Closed(int32_t, const std::string &) { ClearLine(); }
