#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <utility>

// The one instance of a parentless tool window: made on first use (with the
// arguments its constructor takes, usually the program object) and deleted before
// the application object (a widget must not outlive it).
template <class TWindow> class TSharedWindow {
public:
    static TWindow* Existing() { return Slot().data(); }

    // The window, made now when there is none.
    template <class... TArgs> static TWindow& Obtain(TArgs&&... Args) {
        bool Made = false;
        return ObtainMade(Made, std::forward<TArgs>(Args)...);
    }
    // The same; Made tells whether it was made now.
    template <class... TArgs> static TWindow& ObtainMade(bool& Made, TArgs&&... Args) {
        Made = Slot().isNull();
        if (Made) {
            Slot() = new TWindow(std::forward<TArgs>(Args)...);
            qAddPostRoutine(&Delete);
        }
        return *Slot();
    }

private:
    static QPointer<TWindow>& Slot() {
        static QPointer<TWindow> Window;
        return Window;
    }
    static void Delete() { delete Slot().data(); }
};
