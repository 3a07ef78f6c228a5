#!/usr/bin/env bash
# The layering the build relies on: the core never sees widgets, the widget folders
# include only downward (platform <- dialogs <- shell), no window reaches for the main
# window, and the core library is made of whole folders.
set -u
cd "$(dirname "$0")/.."
fail=0
widgets='#include <Q(Widget|Application|Menu|Dialog|Label|PushButton|Icon|Pixmap|Image|Painter|Gui|Screen|Cursor|Action)|#include <Qt(Widgets|Gui)/'
if grep -rnE "$widgets" src/foundation src/catalogue src/program; then
  echo "the core includes a Qt GUI or Widgets header (above)"; fail=1
fi
if grep -rln 'ufrmQuorvantis\.h' src/dialogs src/platform src/foundation src/catalogue src/program; then
  echo "a window or the core includes the main window's header (above)"; fail=1
fi
# An upward include fails to build already; this names the offending line.
upward() { # folder, folders above it
  local from=$1; shift
  grep -rnoE '#include "[^"]+"' "src/$from" | while IFS= read -r hit; do
    header=${hit##*#include \"}; header=${header%\"}
    for above in "$@"; do
      [ -f "src/$above/$header" ] && echo "$hit (a header of src/$above)"
    done
  done
}
found=$( (upward platform dialogs shell; upward dialogs shell) )
if [ -n "$found" ]; then
  echo "$found"; echo "a widget folder includes a header of a folder above it (above)"; fail=1
fi
if grep -n 'FILTER CORE_SOURCES' CMakeLists.txt; then
  echo "a filter cuts files out of the core library"; fail=1
fi
checked=$(find src/foundation src/catalogue src/program src/dialogs src/platform -name '*.h' -o -name '*.cpp' | wc -l)
echo "checked $checked files"
exit $fail
