#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// Small helpers shared by the tool windows opened from the tray menu.

// One ERROR line in the program log.
void LogWindowError(const QString& Text);
// The bold "what do you search" label left of a search field, wrapping onto two
// lines when the language's words do not fit beside it.
QLabel* CreateSearchLabel(QWidget& Window);
// Fixed-size top-level window with only the system menu and close button.
void SetupToolWindow(QWidget& Window, const QString& Name, int ClientWidth, int ClientHeight);
// Centres Window on the screen it is about to appear on.
void CentreOnScreen(QWidget& Window);
// Shows Window without modality and brings it to the front.
void ShowAndRaise(QWidget& Window);
// The banner picture across the top of a window, 33 pixels high.
QLabel* CreateBanner(QWidget& Window, int Width);
// A button with a picture from the resources (":/pictures/<Picture>.svg").
QPushButton* CreatePictureButton(QWidget& Window, const QString& Name, const QString& Picture);
// Caption and hint: the hint goes to the tool tip and to the status bar text.
void SetCaptionAndHint(QPushButton& Button, const QString& Caption, const QString& Hint);
// Makes Label bold (with a pixel height when given).
void MakeBold(QLabel& Label, int PixelHeight = 0);
