#pragma once
// Application-wide look shared by the program and its tests: the Japanese
// Windows face the captions name, mapped onto an installed Gothic face.
void setUpFonts();
