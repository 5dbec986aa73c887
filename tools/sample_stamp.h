#pragma once
// The sample stamp that `create --sample` stores under "도장": a red seal
// with the word 도장, small enough to show whole in the window's picture box.
#include <QImage>
#include <string>

inline constexpr int kSampleStampSide = 64;

// Draws the stamp. Needs a QGuiApplication for the font. When no Korean font
// is installed the word is drawn in the default font and `warning` says so.
QImage DrawSampleStamp(std::string& warning);
