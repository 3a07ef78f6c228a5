#pragma once

#include <QSet>
#include <QStringList>

class QMenu;
class QWidget;

// Access keys (the underlined letter reached with Alt): every control of a window
// and every entry of a menu level gets one of its own. A key written into a
// caption ("&Ok") is kept unless an earlier caption holds it already; a caption
// without one, or whose key is taken, gets the first free letter or digit of its
// own text, word starts first. What is shown stays the same apart from the underline.

// The captions with their keys, in the given order of precedence. Taken holds keys
// (upper case) that are not to be used; the keys given out are added to it. A
// caption left without a free character gets none; "&&" stays a literal ampersand.
QStringList AssignAccessKeys(const QStringList& Captions, QSet<QChar>& Taken);
// What Caption shows: "&&" as one ampersand, the access key mark removed.
QString ShownCaption(const QString& Caption);
// The key of Caption in upper case, or a null character.
QChar AccessKeyOf(const QString& Caption);

// Gives every showing button, labelled field (through its buddy label) and link of
// Scope its own key. Keys in Reserved are left to others (the frame around a tab
// page); returns the keys Scope uses, Reserved included. Captions the program sets
// anew afterwards are taken as written again at the next call.
QSet<QChar> AssignWidgetAccessKeys(QWidget& Scope, const QSet<QChar>& Reserved = {});
// The same for a window whose tab pages are shown one at a time: the controls
// outside the tab pages keep their keys first, then each page is given keys beside them.
void AssignWindowAccessKeys(QWidget& Window);
// The entries of one menu level; those from Prior on choose first (the fixed entries
// at the foot of the tray menu keep their keys whatever the catalogue holds).
void AssignMenuAccessKeys(QMenu& Menu, qsizetype Prior = 0);
