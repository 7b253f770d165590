#pragma once
// Control identifiers of the launcher window. The end-to-end tests read this
// file to find controls, so keep one "#define IDC_<control name> <number>" per line.
#define IDC_L_CurrentVersion 1001
#define IDC_L_Version 1002
#define IDC_ImgBTN_VK 1003
#define IDC_ImgBTN_Discord 1004
#define IDC_Panel1 1005
#define IDC_L_Update 1006
#define IDC_L_Text1 1007
#define IDC_RB_Release 1008
#define IDC_RB_Test 1009
#define IDC_ProgressBar 1010
#define IDC_BTN_Run 1011
#define IDC_BTN_Update 1012
#define IDC_BTN_Exit 1013
#define IDC_Img_Fon 1014
