// The window's image list: 24 pictures of 16 x 16 pixels, addressed by number, shared by
// the menus, the toolbar and the grids.
#pragma once

#include <QIcon>

namespace ImageList {

inline constexpr int kCount = 24;
namespace Image {
constexpr int NewPage = 1;
constexpr int Floppy = 2;
constexpr int RedLamp = 3;
constexpr int GreenLamp = 4;
constexpr int YellowLamp = 5;
constexpr int GreyLamp = 6;
constexpr int HandWriting = 9;
constexpr int OpenFolder = 11;
constexpr int Computer = 12;
constexpr int RecycleBin = 13;
constexpr int BlueArrow = 15;
constexpr int Information = 17;
constexpr int LightRed = 20;
constexpr int LightGreen = 21;
constexpr int QuestionBubble = 22;
constexpr int ScreenChart = 23;
}  // namespace Image

// The picture with that number; a null icon outside 0 to 23.
QIcon icon(int index);
// The program's own icon.
QIcon appIcon();

}  // namespace ImageList
