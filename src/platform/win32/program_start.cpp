#include "platform/program_start.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

// The shell may hand a document to a handler that is a COM object, so the
// calling thread needs COM, in a single-threaded apartment as the shell
// asks. A thread that has COM already keeps it as it is.
class ComForThisThread {
 public:
  ComForThisThread()
      : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComForThisThread() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComForThisThread(const ComForThisThread&) = delete;
  ComForThisThread& operator=(const ComForThisThread&) = delete;

 private:
  HRESULT result_;
};

}  // namespace

// The shell starts a program with its parameters as one text (the program
// splits them itself) and opens a document with the application registered
// for its type.
bool StartProgram(const std::string& program, const std::string& params) {
  if (program.empty()) return false;
  const ComForThisThread com;
  const std::wstring file = Widen(program);
  const std::wstring parameters = Widen(params);
  const HINSTANCE result = ShellExecuteW(nullptr, nullptr, file.c_str(),
                                         parameters.empty() ? nullptr : parameters.c_str(),
                                         nullptr, SW_SHOWNORMAL);
  // Values above 32 mean success.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace sentrel
