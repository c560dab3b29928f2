#include "platform/stop_requests.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/win32/stop_signals.h"

namespace sentrel {

namespace {

std::mutex mutex;
std::function<void()>* onStopNow = nullptr;  // under `mutex`
std::atomic<bool> ignoreLogoff{false};
HWND stopWindow = nullptr;  // of the one object; set before its constructor returns

// Set when the StopRequests object ends, that is when the program has saved
// what it keeps. Made once and never closed: a handler may still wait on it
// while the object goes.
HANDLE SavedEvent() {
  static const HANDLE saved = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return saved;
}

// The system ends a process whose console closes, or whose session ends, as
// soon as the handler returns (and after some seconds at the latest), so on
// those roads the handler waits for the save. Windows allows 5 s on a
// closing console and on logoff; this stays just inside them.
constexpr DWORD kSaveWaitMs = 4500;

constexpr UINT kEndWindowThread = WM_APP + 1;

LRESULT CALLBACK OnWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:  // taskkill without /F, or any program that asks politely
      AskProgramToStop(false);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) AskProgramToStop(true);
      return 0;
    case kEndWindowThread:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// A hidden top-level window named like the program: what taskkill and the
// end of a session address. Without a window station (a service, or Wine
// without a display driver) it cannot be made, and those roads are closed.
HWND MakeStopWindow() {
  static const wchar_t kClass[] = L"SentrelStopRequests";
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = OnWindowMessage;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClass;
  RegisterClassW(&windowClass);  // a second object finds it registered
  return CreateWindowExW(0, kClass, L"Sentrel", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         windowClass.hInstance, nullptr);
}

}  // namespace

bool AskProgramToStop(bool waitForSave) {
  {
    std::lock_guard lock(mutex);
    if (onStopNow == nullptr) return false;
    (*onStopNow)();
  }
  if (waitForSave) WaitForSingleObject(SavedEvent(), kSaveWaitMs);
  return true;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return AskProgramToStop(false);
    case CTRL_LOGOFF_EVENT:
      // A service hears every user's logoff; it is not its own end.
      if (ignoreLogoff) return FALSE;
      [[fallthrough]];
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      return AskProgramToStop(true);
    default:
      return FALSE;
  }
}

void IgnoreLogoffEvents() { ignoreLogoff = true; }

StopRequests::StopRequests(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  ResetEvent(SavedEvent());
  {
    std::lock_guard lock(mutex);
    onStopNow = &onStop_;
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // The window lives on a thread of its own, whose message loop serves it
  // whatever the program's own threads are doing.
  HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  waiter_ = std::thread([this, made] {
    const HWND window = MakeStopWindow();
    stopWindow = window;
    SetEvent(made);
    if (window == nullptr) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  });
  WaitForSingleObject(made, INFINITE);
  CloseHandle(made);
}

StopRequests::~StopRequests() {
  SetEvent(SavedEvent());
  if (stopWindow != nullptr) PostMessageW(stopWindow, kEndWindowThread, 0, 0);
  if (waiter_.joinable()) waiter_.join();
  stopWindow = nullptr;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard lock(mutex);
  onStopNow = nullptr;
}

}  // namespace sentrel
