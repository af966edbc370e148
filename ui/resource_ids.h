// Ids of the dialog templates, their controls and the button bitmaps. Plain
// macros, because the resource compiler reads this file too.
#pragma once

// Dialog templates.
#define IDD_LICENCE 102
#define IDD_PROGRESS 104
#define IDD_SPLASH 110

// Controls of the licence window.
#define IDC_ACCEPT 1006
#define IDC_DECLINE 1007
#define IDC_LICENCE_OK 1008
#define IDC_LICENCE_CANCEL 1009
#define IDC_LICENCE_PANE 1013
#define IDC_SECOND_PANE 1014
#define IDC_HEADING 1021
#define IDC_SECOND_HEADING 1023
#define IDC_ACCEPT_LABEL 1024
#define IDC_DECLINE_LABEL 1025
#define IDC_PRIVACY_LINK 1042

// Controls of the progress window.
#define IDC_PROGRESS_BAR 1001
#define IDC_STATUS_LINE 1003
#define IDC_PROGRESS_CANCEL 1012
#define IDC_PERCENT_TEXT 1021
#define IDC_CAPTION_TEXT 1037
#define IDC_LARGE_PICTURE 1040
#define IDC_DISPLAY_NAME 1041

// Empty picture frames; on the splash window 1022 holds the picture.
#define IDC_SMALL_FRAME 1015
#define IDC_PICTURE_FRAME 1022

// Button bitmaps, 65 x 25 pixels each.
#define IDB_OK_NORMAL 139
#define IDB_OK_DISABLED 141
#define IDB_CANCEL_NORMAL 142
#define IDB_CANCEL_DISABLED 143
#define IDB_OK_FOCUSED 144
#define IDB_OK_PRESSED 145
#define IDB_CANCEL_FOCUSED 146
#define IDB_CANCEL_PRESSED 147

#define IDI_APPLICATION_ICON 1
