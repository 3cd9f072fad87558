// shell32's entry for rundll32 that opens a control-panel applet.
#pragma once
#include <windows.h>

// "rundll32.exe shell32.dll,Control_RunDLL NAME.cpl[,@N][,PARAMETERS]":
// runs applet N (0 when not named) of the .cpl module under a window
// titled "Control Panel"; closing that window ends the applet.
NTSIM_API void WINAPI Control_RunDLL(HWND hwnd, HINSTANCE hinst, LPCSTR lpszCmdLine, int nCmdShow);
