// xdnd-drop: drops files on an X window the way a file manager does, over
// the XDND protocol (version 5): enter, position at the window's centre,
// drop, and the "text/uri-list" handed over through the XdndSelection.
// The end-to-end check starts the real program and adds photos with it.
//
//   xdnd-drop WINDOW-ID PATH...      (exit 0 once the target finished)
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

constexpr long XdndVersion = 5;

// "file://" and the path with every byte outside the unreserved set escaped.
std::string FileUri(const std::string &Path) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string Uri = "file://";
  for (const unsigned char c : Path) {
    if (std::isalnum(c) || std::strchr("/-._~", c)) {
      Uri += char(c);
    } else {
      Uri += '%';
      Uri += Hex[c >> 4];
      Uri += Hex[c & 15];
    }
  }
  return Uri;
}

void SendClientMessage(Display *D, Window Target, Atom Type, const long (&L)[5]) {
  XEvent E{};
  E.xclient.type = ClientMessage;
  E.xclient.display = D;
  E.xclient.window = Target;
  E.xclient.message_type = Type;
  E.xclient.format = 32;
  for (int i = 0; i < 5; ++i) E.xclient.data.l[i] = L[i];
  XSendEvent(D, Target, False, NoEventMask, &E);
  XFlush(D);
}

double Now() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC, &T);
  return double(T.tv_sec) + double(T.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: xdnd-drop WINDOW-ID PATH...\n");
    return 2;
  }
  Display *D = XOpenDisplay(nullptr);
  if (!D) {
    std::fprintf(stderr, "xdnd-drop: cannot open the display\n");
    return 2;
  }
  const Window Target = Window(std::strtoul(argv[1], nullptr, 0));
  std::string UriList;
  for (int i = 2; i < argc; ++i) UriList += FileUri(argv[i]) + "\r\n";

  const Atom XdndAware = XInternAtom(D, "XdndAware", False);
  const Atom XdndEnter = XInternAtom(D, "XdndEnter", False);
  const Atom XdndPosition = XInternAtom(D, "XdndPosition", False);
  const Atom XdndStatus = XInternAtom(D, "XdndStatus", False);
  const Atom XdndDrop = XInternAtom(D, "XdndDrop", False);
  const Atom XdndLeave = XInternAtom(D, "XdndLeave", False);
  const Atom XdndFinished = XInternAtom(D, "XdndFinished", False);
  const Atom XdndSelection = XInternAtom(D, "XdndSelection", False);
  const Atom XdndActionCopy = XInternAtom(D, "XdndActionCopy", False);
  const Atom UriListType = XInternAtom(D, "text/uri-list", False);

  // The target must speak XDND.
  Atom Type;
  int Format;
  unsigned long Count, After;
  unsigned char *Data = nullptr;
  if (XGetWindowProperty(D, Target, XdndAware, 0, 1, False, AnyPropertyType, &Type, &Format, &Count, &After,
                         &Data) != Success ||
      Count == 0) {
    std::fprintf(stderr, "xdnd-drop: window 0x%lx does not accept drops\n", Target);
    return 1;
  }
  XFree(Data);

  const Window Root = DefaultRootWindow(D);
  const Window Source = XCreateSimpleWindow(D, Root, 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(D, Source, PropertyChangeMask);
  XSetSelectionOwner(D, XdndSelection, Source, CurrentTime);

  XWindowAttributes A;
  XGetWindowAttributes(D, Target, &A);
  int X, Y;
  Window Child;
  XTranslateCoordinates(D, Target, Root, A.width / 2, A.height / 2, &X, &Y, &Child);

  SendClientMessage(D, Target, XdndEnter, {long(Source), XdndVersion << 24, long(UriListType), 0, 0});
  SendClientMessage(D, Target, XdndPosition, {long(Source), 0, (long(X) << 16) | Y, CurrentTime, long(XdndActionCopy)});

  bool Accepted = false, Dropped = false;
  const double Start = Now();
  while (Now() - Start < 20) {
    if (!XPending(D)) {
      usleep(5000);
      continue;
    }
    XEvent E;
    XNextEvent(D, &E);
    if (E.type == ClientMessage && E.xclient.message_type == XdndStatus && !Dropped) {
      Accepted = (E.xclient.data.l[1] & 1) != 0;
      if (!Accepted) {
        SendClientMessage(D, Target, XdndLeave, {long(Source), 0, 0, 0, 0});
        std::fprintf(stderr, "xdnd-drop: the window refused the drop\n");
        return 1;
      }
      SendClientMessage(D, Target, XdndDrop, {long(Source), 0, CurrentTime, 0, 0});
      Dropped = true;
    } else if (E.type == SelectionRequest) {
      // The target asks for the dropped list.
      const XSelectionRequestEvent &R = E.xselectionrequest;
      XEvent Reply{};
      Reply.xselection.type = SelectionNotify;
      Reply.xselection.requestor = R.requestor;
      Reply.xselection.selection = R.selection;
      Reply.xselection.target = R.target;
      Reply.xselection.time = R.time;
      Reply.xselection.property = None;
      if (R.target == UriListType) {
        XChangeProperty(D, R.requestor, R.property, UriListType, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(UriList.data()), int(UriList.size()));
        Reply.xselection.property = R.property;
      }
      XSendEvent(D, R.requestor, False, NoEventMask, &Reply);
      XFlush(D);
    } else if (E.type == ClientMessage && E.xclient.message_type == XdndFinished) {
      XCloseDisplay(D);
      return 0;
    }
  }
  std::fprintf(stderr, "xdnd-drop: no answer from window 0x%lx (%s)\n", Target,
               Dropped ? "dropped, not finished" : "no status");
  return 1;
}
