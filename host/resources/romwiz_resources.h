// Resource numbers of romwiz.exe that the Win32 layer and the resource
// scripts share. Dialog templates and control ids keep the numbers the
// screen table gives them (host/wizard/screen_table.cpp).
#pragma once

#define IDI_ROMWIZ 150          // icon group of the program and its main window class

#define IDB_SIDE_PICTURE 127    // 240 x 320, every wizard screen at (10, 10)
#define IDB_NORMAL_RESET 157    // 120 x 75, 4 bits per pixel
#define IDB_USB_PLUG 162        // 119 x 74, beside the USB choice
#define IDB_SERIAL_PLUG 163     // 119 x 74, beside the Serial choice
#define IDB_ON_OFF_SWITCH 173   // 330 x 91, the after-transfer screen

#define IDC_UNNAMED_STATIC -1   // the unnamed static of screen 103 (id 65535)
