#pragma once

#include <QString>
#include <QStringList>

// Read-only files shipped with the program (help documents, pictures, the sample
// vendor content). Looked up in the install folder first, so a user can replace
// one, then beside a relocated install (<program folder>/../share/quorvantis/),
// then in the data folder chosen at build time; a program run from its build tree
// also finds the source tree's resources.
QStringList AssetFolders();
// Every existing file RelativeName in AssetFolders(), in that order: a later one
// serves when an earlier one cannot be used.
QStringList FindAssets(const QString& RelativeName);
