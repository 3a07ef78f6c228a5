#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QRect;
class QWidget;

// Small helpers shared by the tool windows opened from the tray menu.

// One ERROR line in the program log.
void LogWindowError(const QString& Text);
// The bold "what do you search" label left of a search field, wrapping onto two
// lines when the language's words do not fit beside it.
QLabel* CreateSearchLabel(QWidget& Window);
// Fixed-size top-level window with only the system menu and close button.
void SetupToolWindow(QWidget& Window, const QString& Name, int ClientWidth, int ClientHeight);
// Centres Window on the screen it is about to appear on, inside its available
// area (never under a panel, never past an edge).
void CentreOnScreen(QWidget& Window);
// Room kept for the title bar of a window whose frame is not known yet.
inline constexpr int AssumedTitleBarHeight = 32;
// Makes a fixed-size Window fit Area (a screen's available area, title bar
// included): when it is too high, Stretch (a scrolling part: a text or a page)
// gives up the difference and everything below it moves up, so nothing is cut
// off; its design size comes back when Area has room for it again.
void FitIntoArea(QWidget& Window, QWidget& Stretch, const QRect& Area);
// FitIntoArea with the available area of the screen Window appears on.
void FitOnScreen(QWidget& Window, QWidget& Stretch);
// Shows Window without modality and brings it to the front; a window that is not
// yet shown is first fitted on its screen (giving up height from Stretch) and centred.
void ShowAndRaise(QWidget& Window, QWidget* Stretch = nullptr);
// The banner picture across the top of a window, 33 pixels high.
QLabel* CreateBanner(QWidget& Window, int Width);
// A button with a picture from the resources (":/pictures/<Picture>.svg").
QPushButton* CreatePictureButton(QWidget& Window, const QString& Name, const QString& Picture);
// Caption and hint: the hint goes to the tool tip and to the status bar text.
void SetCaptionAndHint(QPushButton& Button, const QString& Caption, const QString& Hint);
// Makes Label bold (with a pixel height when given).
void MakeBold(QLabel& Label, int PixelHeight = 0);
