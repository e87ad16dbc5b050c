#pragma once
#include <QString>

// The running executable's base name without extension ("Zumble1" for the
// shipped program). Sound aliases start with it, so two copies of the program
// started under different names never share a sound channel.
QString EXEName();
