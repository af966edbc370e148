/* Looks at the windows and processes of the Wine prefix it runs in, for the
   end-to-end harness, which cannot read control texts or states through X.
     wininfo windows       every visible top-level window with its controls,
                           one JSON object per line (window_json.h)
     wininfo window HWND   that window as it is now, after it has painted
                           what it had to paint
     wininfo processes     {"pid","ppid","exe"} per process
     wininfo record DLL    installs DLL's recording hook (window_recorder.c)
                           for the whole desktop, prints "recording" and keeps
                           it installed until the process is ended */
// clang-format off
#include <windows.h>
#include <tlhelp32.h>  // needs windows.h first
// clang-format on

#include "window_json.h"

static void PutJson(JsonBuffer* out) {
  if (out->data) fputs(out->data, stdout);
  putchar('\n');
  free(out->data);
  out->data = NULL;
  out->length = out->capacity = 0;
}

static BOOL CALLBACK PutWindow(HWND window, LPARAM unused) {
  JsonBuffer out = {NULL, 0, 0};
  (void)unused;
  if (!IsWindowVisible(window)) return TRUE;
  JsonWindow(&out, window);
  PutJson(&out);
  return TRUE;
}

static int PutOneWindow(const char* handle) {
  HWND window = (HWND)(ULONG_PTR)strtoul(handle, NULL, 10);
  JsonBuffer out = {NULL, 0, 0};
  if (!IsWindow(window)) return 1;
  /* Sends the pending WM_PAINTs to the window and its controls and returns
     once they are handled, so a screenshot taken next shows the state read. */
  RedrawWindow(window, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
  JsonWindow(&out, window);
  PutJson(&out);
  return 0;
}

static int PutProcesses(void) {
  PROCESSENTRY32 entry;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  entry.dwSize = sizeof(entry);
  if (Process32First(snapshot, &entry)) {
    do {
      JsonBuffer out = {NULL, 0, 0};
      JsonFormat(&out, "{\"pid\":%lu,\"ppid\":%lu,\"exe\":", entry.th32ProcessID,
                 entry.th32ParentProcessID);
      JsonText(&out, entry.szExeFile);
      JsonRaw(&out, "}", 1);
      PutJson(&out);
    } while (Process32Next(snapshot, &entry));
  }
  CloseHandle(snapshot);
  return 0;
}

static int Record(const char* dll_path) {
  MSG message;
  HMODULE dll = LoadLibraryA(dll_path);
  HOOKPROC proc = dll ? (HOOKPROC)GetProcAddress(dll, "RecordMessage@12") : NULL;
  if (dll && !proc) proc = (HOOKPROC)GetProcAddress(dll, "RecordMessage");
  if (!proc || !SetWindowsHookExA(WH_CALLWNDPROCRET, proc, dll, 0)) {
    printf("no hook: error %lu\n", GetLastError());
    return 1;
  }
  printf("recording\n");
  fflush(stdout);
  /* The hook lives as long as this thread. */
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

int main(int argc, char** argv) {
  int rc = 2;
  if (argc == 2 && strcmp(argv[1], "windows") == 0) {
    EnumWindows(PutWindow, 0);
    rc = 0;
  } else if (argc == 3 && strcmp(argv[1], "window") == 0) {
    rc = PutOneWindow(argv[2]);
  } else if (argc == 2 && strcmp(argv[1], "processes") == 0) {
    rc = PutProcesses();
  } else if (argc == 3 && strcmp(argv[1], "record") == 0) {
    rc = Record(argv[2]);
  } else {
    fprintf(stderr, "usage: wininfo windows | window HWND | processes | record DLL\n");
  }
  fflush(stdout);
  return rc;
}
