#pragma once

class QTextEdit;
class QWidget;

// What the desktop's assistive technology (AT-SPI) learns about our own widgets
// beyond what Qt reports for its stock ones: check-list lines with their check
// state, link labels as links, the menu inside the show window, and pictures
// that only decorate.

// Installs the interfaces for our widget classes; cheap to call again.
void InstallAccessibleInterfaces();
// Hides a picture that carries no information from screen readers.
void MarkDecorative(QWidget& Picture);
// Shows a read-only text view to screen readers as a document (Qt shows it as a
// label), named by its accessible name.
void MarkDocument(QTextEdit& View);
