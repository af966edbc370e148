/* A window and its controls as one JSON object, written into a buffer; shared
   by the window probe (wininfo.c) and the window recorder
   (window_recorder.c). Include after <windows.h>.
     {"hwnd","pid","title","class","visible","enabled","topmost","rect","controls":[...]}
   each control {"id","hwnd","class","text","visible","enabled","checked","rect"}
   Rectangles are screen coordinates [left, top, right, bottom], the same
   numbers as X root coordinates. Windows-1252 bytes are written as the code
   points of the same number; the harness turns them back into letters. */
#ifndef KESTREL_E2E_WINDOW_JSON_H
#define KESTREL_E2E_WINDOW_JSON_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  char* data;
  size_t length;
  size_t capacity;
} JsonBuffer;

static void JsonRaw(JsonBuffer* out, const char* text, size_t length) {
  if (out->length + length + 1 > out->capacity) {
    size_t capacity = out->capacity ? out->capacity : 4096;
    while (out->length + length + 1 > capacity) capacity *= 2;
    char* grown = (char*)realloc(out->data, capacity);
    if (!grown) return;
    out->data = grown;
    out->capacity = capacity;
  }
  memcpy(out->data + out->length, text, length);
  out->length += length;
  out->data[out->length] = '\0';
}

static void JsonFormat(JsonBuffer* out, const char* format, ...) {
  char piece[256];
  va_list args;
  int length;
  va_start(args, format);
  length = vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (length > 0) JsonRaw(out, piece, (size_t)length < sizeof piece ? (size_t)length : sizeof piece - 1);
}

static void JsonText(JsonBuffer* out, const char* text) {
  const unsigned char* p;
  JsonRaw(out, "\"", 1);
  for (p = (const unsigned char*)text; *p; ++p) {
    if (*p == '"' || *p == '\\') {
      char escaped[2] = {'\\', (char)*p};
      JsonRaw(out, escaped, 2);
    } else if (*p < 0x20 || *p >= 0x7f) {
      JsonFormat(out, "\\u%04x", *p);
    } else {
      JsonRaw(out, (const char*)p, 1);
    }
  }
  JsonRaw(out, "\"", 1);
}

static void JsonRect(JsonBuffer* out, HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  JsonFormat(out, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
}

/* The text of a window. Another thread's window is asked under a time limit,
   so a window whose thread is blocked costs a second, not a hang. */
static void WindowText(HWND window, char* out, int size) {
  DWORD_PTR length = 0;
  out[0] = '\0';
  if (GetWindowThreadProcessId(window, NULL) == GetCurrentThreadId()) {
    GetWindowTextA(window, out, size);
  } else if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)out, SMTO_ABORTIFHUNG,
                                  1000, &length)) {
    GetWindowTextA(window, out, size); /* the stored caption, without a message */
  }
  out[size - 1] = '\0';
}

static int ButtonChecked(HWND control) {
  char class_name[64];
  DWORD_PTR checked = 0;
  GetClassNameA(control, class_name, sizeof(class_name));
  if (_stricmp(class_name, "Button") != 0) return 0;
  if (GetWindowThreadProcessId(control, NULL) == GetCurrentThreadId()) {
    return (int)SendMessageA(control, BM_GETCHECK, 0, 0);
  }
  SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &checked);
  return (int)checked;
}

static void JsonControl(JsonBuffer* out, HWND control) {
  static char text[65536];
  char class_name[64];
  GetClassNameA(control, class_name, sizeof(class_name));
  WindowText(control, text, sizeof(text));
  JsonFormat(out, "{\"id\":%d,\"hwnd\":%lu,\"class\":", GetDlgCtrlID(control),
             (unsigned long)(ULONG_PTR)control);
  JsonText(out, class_name);
  JsonRaw(out, ",\"text\":", 8);
  JsonText(out, text);
  /* The control's own visibility, also while its window is not shown yet. */
  JsonFormat(out, ",\"visible\":%s,\"enabled\":%s,\"checked\":%d,\"rect\":",
             (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) ? "true" : "false",
             IsWindowEnabled(control) ? "true" : "false", ButtonChecked(control));
  JsonRect(out, control);
  JsonRaw(out, "}", 1);
}

typedef struct {
  JsonBuffer* out;
  int first;
} ControlList;

static BOOL CALLBACK JsonNextControl(HWND control, LPARAM list) {
  ControlList* controls = (ControlList*)list;
  if (!controls->first) JsonRaw(controls->out, ",", 1);
  controls->first = 0;
  JsonControl(controls->out, control);
  return TRUE;
}

static void JsonWindow(JsonBuffer* out, HWND window) {
  char title[1024];
  char class_name[256];
  DWORD pid = 0;
  ControlList controls;
  GetClassNameA(window, class_name, sizeof(class_name));
  WindowText(window, title, sizeof(title));
  GetWindowThreadProcessId(window, &pid);
  JsonFormat(out, "{\"hwnd\":%lu,\"pid\":%lu,\"title\":", (unsigned long)(ULONG_PTR)window,
             (unsigned long)pid);
  JsonText(out, title);
  JsonRaw(out, ",\"class\":", 9);
  JsonText(out, class_name);
  JsonFormat(out, ",\"visible\":%s,\"enabled\":%s,\"topmost\":%s,\"rect\":",
             IsWindowVisible(window) ? "true" : "false", IsWindowEnabled(window) ? "true" : "false",
             (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "true" : "false");
  JsonRect(out, window);
  JsonRaw(out, ",\"controls\":[", 13);
  controls.out = out;
  controls.first = 1;
  EnumChildWindows(window, JsonNextControl, (LPARAM)&controls);
  JsonRaw(out, "]}", 2);
}

#endif
