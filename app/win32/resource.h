// Resource ids shared by Norvane.rc and the code.
#pragma once

// The application icon: icon group 1 over the images 30001 to 30009.
#define IDI_NORVANE 1
// The directory of logo.ico's images (201 to 210), drawn by Image1: data, as
// it is an icon of the window, not of the file.
#define IDR_LOGO 200
