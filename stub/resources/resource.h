// Numbers shared by stub.rc and the code: icon groups, dialog templates and
// the control identifiers used across the templates. Plain defines, because
// the resource compiler reads this file too.
#pragma once

// Icon groups (made by make-icons.sh).
#define IDI_APP 0
#define IDI_VOLUME 100
#define IDI_PASSWORD 200

// Bitmaps that the picture controls name; the pictures themselves are loaded
// from the package at run time.
#define IDB_SIDE_PICTURE 102
#define IDB_HEADER_PICTURE 104

// Dialog templates.
#define IDD_FRAME 2000
#define IDD_UNPACK_PAGE 2001
#define IDD_LICENCE_PAGE 2002
#define IDD_PROGRESS_PAGE 2003
#define IDD_README_PAGE 2005
#define IDD_WELCOME_PAGE 6002  // also the completion page
#define IDD_OVERWRITE_PROMPT 3000
#define IDD_VOLUME_PROMPT 5000  // the password and next-volume prompts

// Controls.
#define IDC_NEXT_BUTTON 1    // also OK and Yes
#define IDC_CANCEL_BUTTON 2  // also No on the licence page
#define IDC_YES_TO_ALL_BUTTON 10
#define IDC_NO_BUTTON 11
#define IDC_NO_TO_ALL_BUTTON 12
#define IDC_LINE1 50
#define IDC_LINE2 51  // also the status line of the progress page
#define IDC_LINE3 52
#define IDC_LINE4 53
#define IDC_FIELD 60
#define IDC_PROGRESS_BAR 70
#define IDC_TITLE 100
#define IDC_SUBTITLE 101
#define IDC_ANIMATION 109  // made at run time on the progress page
#define IDC_CHOICE1 204    // radio button or check box
#define IDC_CHOICE2 205
#define IDC_BACK_BUTTON 1001
#define IDC_HEADER_LINE 1002
#define IDC_BAND 1003  // header band, or the welcome page's text area
#define IDC_BROWSE_BUTTON 1004
#define IDC_PICTURE 1008
#define IDC_VOLUME_ICON 3000
#define IDC_PASSWORD_ICON 3001
#define IDC_PAGE_PLACE 4000
