/* Looks at the windows and processes of the Wine prefix it runs in, for the
   end-to-end harness, which cannot read control texts or states through X.
   Prints one JSON object per line:
     wininfo windows    every visible top-level window with its controls:
                        {"hwnd","pid","title","class","rect","enabled","controls":[...]}
                        each control {"id","class","text","visible","enabled","checked","rect"}
     wininfo processes  {"pid","ppid","exe"} per process
   Rectangles are screen coordinates [left, top, right, bottom], the same
   numbers as X root coordinates. Texts are fetched with WM_GETTEXT under a
   time limit, so a window whose thread is blocked costs a second, not a hang. */
// clang-format off
#include <windows.h>
#include <tlhelp32.h>  // needs windows.h first
// clang-format on

#include <stdio.h>
#include <string.h>

static void PutJsonText(const char* text) {
  const unsigned char* p;
  putchar('"');
  for (p = (const unsigned char*)text; *p; ++p) {
    if (*p == '"' || *p == '\\') {
      printf("\\%c", *p);
    } else if (*p < 0x20 || *p >= 0x7f) {
      /* Windows-1252 bytes are passed as the code points of the same number;
         the harness compares ASCII texts only. */
      printf("\\u%04x", *p);
    } else {
      putchar(*p);
    }
  }
  putchar('"');
}

static void GetText(HWND window, char* out, int size) {
  DWORD_PTR length = 0;
  out[0] = '\0';
  if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)out, SMTO_ABORTIFHUNG, 1000,
                           &length)) {
    GetWindowTextA(window, out, size); /* the stored caption, without a message */
  }
  out[size - 1] = '\0';
}

static void PutRect(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  printf("[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
}

static int first_control;

static BOOL CALLBACK PutControl(HWND control, LPARAM unused) {
  static char text[65536];
  char class_name[64];
  DWORD_PTR checked = 0;
  (void)unused;
  GetClassNameA(control, class_name, sizeof(class_name));
  GetText(control, text, sizeof(text));
  if (_stricmp(class_name, "Button") == 0) {
    SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &checked);
  }
  printf("%s{\"id\":%d,\"class\":", first_control ? "" : ",", GetDlgCtrlID(control));
  first_control = 0;
  PutJsonText(class_name);
  printf(",\"text\":");
  PutJsonText(text);
  printf(",\"visible\":%s,\"enabled\":%s,\"checked\":%d,\"rect\":",
         IsWindowVisible(control) ? "true" : "false", IsWindowEnabled(control) ? "true" : "false",
         (int)checked);
  PutRect(control);
  printf("}");
  return TRUE;
}

static BOOL CALLBACK PutWindow(HWND window, LPARAM unused) {
  char title[1024];
  char class_name[256];
  DWORD pid = 0;
  (void)unused;
  if (!IsWindowVisible(window)) return TRUE;
  GetClassNameA(window, class_name, sizeof(class_name));
  GetText(window, title, sizeof(title));
  GetWindowThreadProcessId(window, &pid);
  printf("{\"hwnd\":%lu,\"pid\":%lu,\"title\":", (unsigned long)(ULONG_PTR)window,
         (unsigned long)pid);
  PutJsonText(title);
  printf(",\"class\":");
  PutJsonText(class_name);
  printf(",\"enabled\":%s,\"rect\":", IsWindowEnabled(window) ? "true" : "false");
  PutRect(window);
  printf(",\"controls\":[");
  first_control = 1;
  EnumChildWindows(window, PutControl, 0);
  printf("]}\n");
  return TRUE;
}

static int PutProcesses(void) {
  PROCESSENTRY32 entry;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  entry.dwSize = sizeof(entry);
  if (Process32First(snapshot, &entry)) {
    do {
      printf("{\"pid\":%lu,\"ppid\":%lu,\"exe\":", entry.th32ProcessID, entry.th32ParentProcessID);
      PutJsonText(entry.szExeFile);
      printf("}\n");
    } while (Process32Next(snapshot, &entry));
  }
  CloseHandle(snapshot);
  return 0;
}

int main(int argc, char** argv) {
  int rc = 2;
  if (argc == 2 && strcmp(argv[1], "windows") == 0) {
    EnumWindows(PutWindow, 0);
    rc = 0;
  } else if (argc == 2 && strcmp(argv[1], "processes") == 0) {
    rc = PutProcesses();
  } else {
    fprintf(stderr, "usage: wininfo windows | processes\n");
  }
  fflush(stdout);
  return rc;
}
