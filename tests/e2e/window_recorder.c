/* The window recorder: a DLL whose WH_CALLWNDPROCRET hook (installed for the
   whole desktop by `wininfo record`) runs inside every GUI process of the
   Wine prefix, in the thread that owns each window, right after the window
   has handled a message. In a process whose environment names a record file
   (KESTREL_WINDOW_RECORD, a Windows path) it appends one JSON object per
   line for every change the harness asserts on, as it happens:
     {"t":..,"pid":..,"event":"open","window":{...}}     a dialog or message box after WM_INITDIALOG
     {"t":..,"pid":..,"event":"close","hwnd":..}         a top-level window destroyed
     {"t":..,"pid":..,"event":"text","top":..,"hwnd":..,"id":..,"text":".."}   WM_SETTEXT (the title: hwnd == top)
     {"t":..,"pid":..,"event":"check",...,"checked":n}   BM_SETCHECK, then the state read back
     {"t":..,"pid":..,"event":"show",...,"visible":b}    shown or hidden (WM_WINDOWPOSCHANGED)
     {"t":..,"pid":..,"event":"zorder",...}              a top-level window restacked
     {"t":..,"pid":..,"event":"enable",...,"enabled":b}  WM_ENABLE
     {"t":..,"pid":..,"event":"draw","top":..,"id":..,"state":n}  an owner-drawn button painted (itemState)
   "t" is the wall clock in seconds since 1970, as Python's time.time().
   Several processes (a second copy) and threads (message boxes of the
   worker) write one file: a named mutex keeps each line whole. */
#include <windows.h>

#include "window_json.h"

/* Set once when the DLL is loaded into a process, read-only afterwards. */
static char record_path[MAX_PATH];
static HANDLE record_lock;
static DWORD busy_slot = TLS_OUT_OF_INDEXES; /* per thread: set while a record is made */

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    DWORD length = GetEnvironmentVariableA("KESTREL_WINDOW_RECORD", record_path, sizeof record_path);
    if (length > 0 && length < sizeof record_path) {
      record_lock = CreateMutexA(NULL, FALSE, "KestrelWindowRecord");
      busy_slot = TlsAlloc();
    }
  }
  return TRUE;
}

static int Recording(void) { return record_lock && busy_slot != TLS_OUT_OF_INDEXES; }

static double UnixSeconds(void) {
  FILETIME now;
  ULARGE_INTEGER ticks;
  GetSystemTimeAsFileTime(&now);
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  return (double)(ticks.QuadPart - 116444736000000000ULL) / 1e7;
}

static void Begin(JsonBuffer* out, const char* event) {
  JsonFormat(out, "{\"t\":%.4f,\"pid\":%lu,\"event\":\"%s\"", UnixSeconds(),
             (unsigned long)GetCurrentProcessId(), event);
}

/* The control's top-level window, its own handle and id. */
static void Control(JsonBuffer* out, HWND control) {
  JsonFormat(out, ",\"top\":%lu,\"hwnd\":%lu,\"id\":%d",
             (unsigned long)(ULONG_PTR)GetAncestor(control, GA_ROOT),
             (unsigned long)(ULONG_PTR)control, GetDlgCtrlID(control));
}

static void Write(JsonBuffer* out) {
  HANDLE file;
  DWORD written;
  JsonRaw(out, "}\n", 2);
  if (!out->data) return;
  WaitForSingleObject(record_lock, 5000);
  file = CreateFileA(record_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    SetFilePointer(file, 0, NULL, FILE_END);
    WriteFile(file, out->data, (DWORD)out->length, &written, NULL);
    CloseHandle(file);
  }
  ReleaseMutex(record_lock);
}

static int IsTopLevel(HWND window) { return GetAncestor(window, GA_ROOT) == window; }

static void Record(const CWPRETSTRUCT* m) {
  JsonBuffer out = {NULL, 0, 0};
  char text[4096];
  switch (m->message) {
    case WM_INITDIALOG:
      if (!IsTopLevel(m->hwnd)) return;
      Begin(&out, "open");
      JsonRaw(&out, ",\"window\":", 10);
      JsonWindow(&out, m->hwnd);
      break;
    case WM_DESTROY:
      if (!IsTopLevel(m->hwnd)) return;
      Begin(&out, "close");
      JsonFormat(&out, ",\"hwnd\":%lu", (unsigned long)(ULONG_PTR)m->hwnd);
      break;
    case WM_SETTEXT:
      Begin(&out, "text");
      Control(&out, m->hwnd);
      WindowText(m->hwnd, text, sizeof text);
      JsonRaw(&out, ",\"text\":", 8);
      JsonText(&out, text);
      break;
    case BM_SETCHECK:
      Begin(&out, "check");
      Control(&out, m->hwnd);
      JsonFormat(&out, ",\"checked\":%d", ButtonChecked(m->hwnd));
      break;
    case WM_WINDOWPOSCHANGED: {
      const WINDOWPOS* pos = (const WINDOWPOS*)m->lParam;
      if (pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) {
        Begin(&out, "show");
        Control(&out, m->hwnd);
        JsonFormat(&out, ",\"visible\":%s", (pos->flags & SWP_SHOWWINDOW) ? "true" : "false");
      } else if (!(pos->flags & SWP_NOZORDER) && IsTopLevel(m->hwnd)) {
        Begin(&out, "zorder"); /* the window moved in front of or behind others */
        Control(&out, m->hwnd);
      } else {
        return;
      }
      break;
    }
    case WM_ENABLE:
      Begin(&out, "enable");
      Control(&out, m->hwnd);
      JsonFormat(&out, ",\"enabled\":%s", m->wParam ? "true" : "false");
      break;
    case WM_DRAWITEM: {
      const DRAWITEMSTRUCT* item = (const DRAWITEMSTRUCT*)m->lParam;
      if (item->CtlType != ODT_BUTTON) return;
      Begin(&out, "draw");
      Control(&out, item->hwndItem);
      JsonFormat(&out, ",\"state\":%u", item->itemState);
      break;
    }
    default:
      return;
  }
  Write(&out);
  free(out.data);
}

__declspec(dllexport) LRESULT CALLBACK RecordMessage(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && Recording() && !TlsGetValue(busy_slot)) {
    /* What the record asks of the window (its text, its check state) passes
       through this hook again; only the outer message is recorded. */
    TlsSetValue(busy_slot, (LPVOID)1);
    Record((const CWPRETSTRUCT*)lParam);
    TlsSetValue(busy_slot, NULL);
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}
