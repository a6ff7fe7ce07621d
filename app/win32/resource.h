// Resource ids shared by Norvane.rc and the code.
#pragma once

// The application icon: icon group 1 over the images 30001 to 30009.
#define IDI_NORVANE 1
// logo.ico as stored, drawn by Image1; an icon of the window, not of the file.
#define IDR_LOGO 200
